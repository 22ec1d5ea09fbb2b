"""Runs a scenario's tools side by side: in every round each tool once, the order rotating so
that no tool always follows the same one; before each run the output folder is new and the
disks are synced, after it the outputs are checked against the sources and removed (a failed
run's are kept, to look into)."""

import os
import re
import shutil
from dataclasses import dataclass, field
from pathlib import Path

from . import measure
from .data import MiB, sha256
from .measure import Failure
from .scenarios import Scenario


@dataclass
class Result:
    scenario: Scenario
    samples: dict = field(default_factory=dict)  # tool name -> [Sample]
    figures: dict = field(default_factory=dict)  # tool name -> [{figure: value}]
    failure: str = None


def run_scenario(scenario, rounds, server, runs: Path):
    print(f"\n{scenario.key}. {scenario.title}", flush=True)
    for name in scenario.sources:  # so that no tool pays for reading a source from the disk first
        with open(server.root / name, "rb") as f:
            while f.read(16 * MiB):
                pass
    result = Result(scenario, {t.name: [] for t in scenario.tools}, {t.name: [] for t in scenario.tools})
    tools = scenario.tools
    removed = runs / "removed"
    try:
        for r in range(rounds):
            for tool in tools[r % len(tools):] + tools[:r % len(tools)]:
                run_dir = runs / f"{scenario.key}-{re.sub('[^a-z0-9]+', '-', tool.name.lower())}"
                sample, figures = run_once(scenario, tool, server, run_dir)
                if scenario.many_files:
                    removed.mkdir(exist_ok=True)
                    run_dir.rename(removed / f"{run_dir.name}-{r}")
                else:
                    shutil.rmtree(run_dir)
                result.samples[tool.name].append(sample)
                result.figures[tool.name].append(figures)
                print(f"  round {r + 1}  {tool.name:<24} wall {sample.wall:7.3f} s  cpu {sample.cpu:7.3f} s  "
                      f"peak RSS {sample.rss / MiB:7.1f} MiB", flush=True)
    except Failure as failure:
        result.failure = f"{tool.name}: {failure}"
        print(f"\n*** {scenario.key}. {scenario.title} FAILED, {result.failure}\n", flush=True)
    shutil.rmtree(removed, ignore_errors=True)
    return result


def run_once(scenario, tool, server, run_dir: Path):
    shutil.rmtree(run_dir, ignore_errors=True)
    out = run_dir / "out"
    out.mkdir(parents=True)
    scenario.prepare(out)
    processes = tool.job(out, run_dir)
    os.sync()
    mark = server.log_mark()
    sample = measure.run(processes, run_dir)
    figures = tool.check(run_dir)
    requests = server.requests_since(mark)
    scenario.check_log(requests)
    check_outputs(out, tool.outputs)
    figures.update({"requests": len(requests), "connections": len({r.connection for r in requests}),
                    "MiB sent": sum(r.body_bytes for r in requests) / MiB})
    return sample, figures


def check_outputs(out: Path, expected):
    """Exactly the expected files, each with its source's sha256."""
    found = {str(p.relative_to(out)) for p in out.rglob("*") if p.is_file()}
    if found != set(expected):
        raise Failure(f"files in {out}: missing {sorted(set(expected) - found)[:5]}, "
                      f"unexpected {sorted(found - set(expected))[:5]}")
    for name, digest in expected.items():
        actual = sha256(out / name)
        if actual != digest:
            raise Failure(f"SHA-256 MISMATCH: {out / name} has {actual}, its source {digest}")
