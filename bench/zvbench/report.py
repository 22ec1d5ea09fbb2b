"""The medians of every scenario and tool, the ratios of the scenario's first tool (Zelvorn) to
each other, as a console table, a markdown page and a plot of the ratios."""

import os
import platform
import re
import statistics
import subprocess

from .data import MiB
from .measure import Sample
from .scenarios import DISK_ALONE, NETWORK_ALONE

LIMIT = "limit: the larger of network and disk alone"

RATIOS = ("wall", "cpu", "rss")
FIGURES = ("requests", "connections", "MiB sent", "events", "down_process", "down_process per GiB")


def rows(results):
    """(scenario, tool, median Sample or None, ratios of the first tool to this one or None);
    where a scenario measured the network alone and the disk alone, a last row compares the
    first tool's wall time with the larger of the two (its other ratios are None)."""
    for result in results:
        medians = {name: Sample.median(s) if s else None for name, s in result.samples.items()}
        first = medians[result.scenario.tools[0].name]
        for name, median in medians.items():
            ratios = None
            if first and median and name != result.scenario.tools[0].name:
                ratios = [getattr(first, f) / getattr(median, f) for f in RATIOS]
            yield result, name, median, ratios
        network, disk = medians.get(NETWORK_ALONE), medians.get(DISK_ALONE)
        if first and network and disk:
            limit = network if network.wall >= disk.wall else disk
            yield result, LIMIT, Sample(limit.wall, limit.cpu, limit.rss), [first.wall / limit.wall, None, None]


def table(results):
    head = ["scenario", "tool", "wall s", "CPU s", "peak RSS MiB", "ratio wall", "ratio CPU", "ratio RSS"]
    body = []
    for result, name, median, ratios in rows(results):
        cells = [f"{result.scenario.key}. {result.scenario.title}", name]
        cells += [f"{median.wall:.3f}", f"{median.cpu:.3f}", f"{median.rss / MiB:.1f}"] if median else ["failed"] * 3
        cells += [f"{r:.2f}" if r is not None else "" for r in ratios] if ratios else [""] * 3
        body.append(cells)
    return head, body


def figure_table(results):
    head = ["scenario", "tool", *FIGURES]
    body = []
    for result in results:
        for name, runs in result.figures.items():
            if runs:
                medians = [f"{statistics.median(r[f] for r in runs):,.0f}" if f in runs[0] else "" for f in FIGURES]
                body.append([f"{result.scenario.key}. {result.scenario.title}", name] + medians)
    return head, body


def spread_table(results):
    """The lowest and highest wall and CPU time of each tool's rounds."""
    head = ["scenario", "tool", "wall s, lowest-highest", "CPU s, lowest-highest"]
    body = []
    for result in results:
        for name, samples in result.samples.items():
            if samples:
                spans = [f"{min(getattr(s, f) for s in samples):.3f}-{max(getattr(s, f) for s in samples):.3f}"
                         for f in ("wall", "cpu")]
                body.append([f"{result.scenario.key}. {result.scenario.title}", name, *spans])
    return head, body


def console(results):
    head, body = table(results)
    widths = [max(len(str(c)) for c in column) for column in zip(head, *body)]
    for cells in [head] + body:
        print("  ".join(str(c).ljust(w) for c, w in zip(cells, widths)))


def markdown_table(head, body):
    return "\n".join(["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
                     + ["| " + " | ".join(str(c) for c in cells) + " |" for cells in body])


def machine():
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    memory = next(int(line.split()[1]) for line in open("/proc/meminfo") if line.startswith("MemTotal")) / 2**20
    return f"{os.cpu_count()} CPUs (nproc), {model}, Linux {platform.release()}, {memory:.0f} GiB RAM"


def version(tool, flag):
    done = subprocess.run([tool, flag], capture_output=True, text=True)
    found = re.search(r"\d+\.\d+(\.\d+)?", done.stdout + done.stderr)
    return f"{tool} {found.group() if found else '?'}"


def markdown(results, rounds, took, build):
    head, body = table(results)
    fhead, fbody = figure_table(results)
    shead, sbody = spread_table(results)
    failures = [f"- **{r.scenario.key}. {r.scenario.title} failed**: {r.failure}" for r in results if r.failure]
    peers = ", ".join(version(tool, flag) for tool, flag in (("curl", "--version"), ("wget", "--version"),
                                                             ("aria2c", "--version"), ("nginx", "-v")))
    return f"""# Benchmark results

Made by `bench/run` ({rounds} rounds, {took}). Machine: {machine()}.
Zelvorn: `build/app/zelvorn stdio` from {build}. Peers: {peers}.
nginx on 127.0.0.1 serves the files; every output was checked by SHA-256 against its source.

Medians over the rounds of each whole job: wall time, CPU time (user + system, children
included) and peak RSS (summed over the processes when a tool runs several at once). The ratios
are Zelvorn's figure divided by the tool's (in the memory scenario, Zelvorn's on the 4 GiB file
divided by each other run's): below 1 Zelvorn took less.

{markdown_table(head, body)}

The spread of the rounds:

{markdown_table(shead, sbody)}

What each run asked of nginx and, for Zelvorn, told its page (medians):

{markdown_table(fhead, fbody)}
{chr(10).join(failures)}

![ratios](results.png)
"""


def plot(results, path):
    """One panel per scenario: the ratios of the first tool to each other one."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter

    panels = {}  # scenario title -> [(tool, ratios)]
    for result, name, _, ratios in rows(results):
        if ratios:
            panels.setdefault(f"{result.scenario.key}. {result.scenario.title}", []).append((name, ratios))
    if not panels:
        return
    columns = min(2, len(panels))
    rows_needed = (len(panels) + columns - 1) // columns
    fig, axes = plt.subplots(rows_needed, columns, figsize=(7 * columns, 3.6 * rows_needed), squeeze=False)
    width = 0.27
    for ax, (title, bars) in zip(axes.flat, panels.items()):
        for i, (figure, colour) in enumerate(zip(("wall", "CPU", "peak RSS"), ("tab:blue", "tab:orange", "tab:green"))):
            xs = [x + (i - 1) * width for x, (_, ratios) in enumerate(bars) if ratios[i] is not None]
            ys = [ratios[i] for _, ratios in bars if ratios[i] is not None]
            ax.bar(xs, ys, width, label=figure, color=colour)
        ax.axhline(1, color="black", linewidth=0.8)
        ax.set_yscale("log")
        ax.yaxis.set_major_locator(LogLocator(subs=(1, 2, 5)))
        ax.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
        ax.yaxis.set_minor_formatter(NullFormatter())
        ax.set_xticks(range(len(bars)), [f"÷ {name}" for name, _ in bars], rotation=20, ha="right", fontsize=7)
        ax.set_title(title, fontsize=9)
    for ax in list(axes.flat)[len(panels):]:
        ax.axis("off")
    axes.flat[0].legend(fontsize=7)
    fig.suptitle("zelvorn stdio ÷ each peer, whole jobs (below 1: Zelvorn took less)", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
