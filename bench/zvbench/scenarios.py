"""The scenarios: each a job that Zelvorn and its peers do alike, the outputs every run must
leave behind (checked by sha256), and what nginx's access log must show."""

import os
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

from . import zelvorn
from .data import FOLDER_FILES, GET_FILES, SMALL_FILES, TASK_FILES, GiB, folder_name, small_name, task_name
from .measure import Failure, Process


@dataclass
class Tool:
    name: str
    # (output folder, run folder for lists and events) -> the processes of one run
    job: Callable[[Path, Path], list]
    outputs: dict  # path in the output folder -> sha256
    # run folder -> figures worth reporting; fails a run that did not do its job
    check: Callable[[Path], dict] = lambda run_dir: {}


@dataclass
class Scenario:
    key: str
    title: str
    tools: list  # the first is the one whose ratios to the others are reported
    sources: list  # data files the job reads, warmed in the page cache before the first round
    prepare: Callable[[Path], None] = lambda out: None  # readies the output folder before each run
    check_log: Callable[[list], None] = lambda requests: None  # nginx's requests of one run
    # On ext4 without a journal, creating files soon after many were deleted scans past the
    # deleted inodes, and the next run would pay for the last one's deletions: a scenario that
    # makes many files moves each run's outputs aside and deletes them when it ends.
    many_files: bool = False


# The machine's own limits for one file, measured beside Zelvorn: the network alone (the body read
# and dropped) and the disk alone (the same bytes copied into the output folder). A transfer that
# reads and writes on different threads can approach the larger of the two.
NETWORK_ALONE, DISK_ALONE = "curl -o /dev/null (network alone)", "dd (disk alone)"


def write_list(path: Path, urls):
    path.write_text("".join(u + "\n" for u in urls))
    return path


def zelvorn_files(outputs, data_size, threads, make_tasks):
    """Zelvorn fetching the tasks `make_tasks(output folder)` gives, checked by its events."""
    def check(run_dir):
        counts = zelvorn.check(run_dir)
        down_process = counts.get("down_process", 0)
        return {"events": sum(counts.values()), "down_process": down_process,
                "down_process per GiB": down_process * GiB / data_size}

    return Tool("zelvorn", lambda out, run_dir: zelvorn.job(run_dir, [zelvorn.init(out, threads)] + make_tasks(out)),
                outputs, check)


def one_file(key, server, manifest, https):
    url, sha = server.url("/big.bin", https), {"big.bin": manifest["big.bin"]}
    insecure = {"curl": ["-k"], "wget": ["--no-check-certificate"], "aria2c": ["--check-certificate=false"]}
    flags = insecure if https else {tool: [] for tool in insecure}
    return Scenario(key, f"1 GiB file over {'https' if https else 'http'}", [
        zelvorn_files(sha, GiB, 1, lambda out: [zelvorn.add_file(1, url)]),
        Tool("curl -o", lambda out, _: [Process(["curl", "-sS", *flags["curl"], "-o", out / "big.bin", url])], sha),
        Tool("wget -O", lambda out, _: [Process(["wget", "-q", *flags["wget"], "-O", out / "big.bin", url])], sha),
        Tool("aria2c -x1", lambda out, _: [Process(["aria2c", "-q", "-x1", *flags["aria2c"], "-d", out, "-o", "big.bin",
                                                    url])], sha),
        Tool(NETWORK_ALONE, lambda out, _: [Process(["curl", "-sS", *flags["curl"], "-o", "/dev/null", url])], {}),
        Tool(DISK_ALONE, lambda out, _: [Process(["dd", "status=none", "bs=1M", f"if={server.root / 'big.bin'}",
                                                  f"of={out / 'big.bin'}"])], sha),
    ], ["big.bin"])


def five_files(key, server, manifest):
    names = [f"part{i}.bin" for i in range(1, 6)]
    urls, sha = [server.url("/" + n) for n in names], {n: manifest[n] for n in names}
    return Scenario(key, "5 files of 200 MiB at once", [
        zelvorn_files(sha, 5 * 200 * 2**20, 5, lambda out: [zelvorn.add_file(i + 1, u) for i, u in enumerate(urls)]),
        Tool("5 × curl -o", lambda out, _: [Process(["curl", "-sS", "-o", out / n, u]) for n, u in zip(names, urls)], sha),
        Tool("aria2c -j5 -x1", lambda out, run_dir: [Process(["aria2c", "-q", "-j5", "-x1", "-d", out,
                                                               "-i", write_list(run_dir / "urls.txt", urls)])], sha),
    ], names)


def folder(key, server, manifest):
    paths = [folder_name(i) for i in range(FOLDER_FILES)]  # "docs/f0000.bin", ...
    urls, sha = [server.url("/" + p) for p in paths], {p: manifest[p] for p in paths}
    size = sum(os.path.getsize(server.root / p) for p in paths)

    def into_docs(make):  # the peers write where Zelvorn lays out the folder: docs/ in the output folder
        def job(out, run_dir):
            (out / "docs").mkdir()
            return make(out / "docs", write_list(run_dir / "urls.txt", urls))
        return job

    files = [(p.split("/", 1)[1], u, os.path.getsize(server.root / p)) for p, u in zip(paths, urls)]
    return Scenario(key, f"folder of {FOLDER_FILES:,} files of 16 KiB", [
        zelvorn_files(sha, size, 1, lambda out: [zelvorn.add_folder(1, "docs", files)]),
        Tool("aria2c -j1 -i", into_docs(lambda docs, urls_txt: [Process(["aria2c", "-q", "-j1", "-d", docs,
                                                                         "-i", urls_txt])]), sha),
        Tool("wget -i", into_docs(lambda docs, urls_txt: [Process(["wget", "-q", "-P", docs, "-i", urls_txt])]), sha),
        Tool("curl --remote-name-all", into_docs(lambda docs, _: [Process(["curl", "-sS", "--remote-name-all",
                                                                           "--output-dir", docs, *urls])]), sha),
    ], paths, many_files=True)


def many_tasks(key, server, manifest):
    paths = [task_name(i) for i in range(TASK_FILES)]  # "tasks/t0000.bin", ...
    urls = [server.url("/" + p) for p in paths]
    sha = {p.split("/", 1)[1]: manifest[p] for p in paths}  # every tool writes the names into the output folder
    size = sum(os.path.getsize(server.root / p) for p in paths)
    return Scenario(key, f"{TASK_FILES:,} file tasks of 64 KiB, 5 at once", [
        zelvorn_files(sha, size, 5, lambda out: [zelvorn.add_file(i + 1, u) for i, u in enumerate(urls)]),
        Tool("curl --parallel-max 5", lambda out, _: [Process(["curl", "-sS", "--parallel", "--parallel-max", "5",
                                                               "--remote-name-all", "--output-dir", out, *urls])], sha),
        Tool("aria2c -j5 -i", lambda out, run_dir: [Process(["aria2c", "-q", "-j5", "-x1", "-d", out,
                                                             "-i", write_list(run_dir / "urls.txt", urls)])], sha),
    ], paths, many_files=True)


def small_folder(key, server, manifest):
    paths = [small_name(i) for i in range(SMALL_FILES)]  # "small/s00000.bin", ...
    urls, sha = [server.url("/" + p) for p in paths], {p: manifest[p] for p in paths}
    files = [(p.split("/", 1)[1], u, os.path.getsize(server.root / p)) for p, u in zip(paths, urls)]

    def into_small(out, _):
        (out / "small").mkdir()
        return [Process(["curl", "-sS", "--remote-name-all", "--output-dir", out / "small", *urls])]

    return Scenario(key, f"folder of {SMALL_FILES:,} files of 4 KiB", [
        zelvorn_files(sha, sum(f[2] for f in files), 1, lambda out: [zelvorn.add_folder(1, "small", files)]),
        Tool("curl --remote-name-all", into_small, sha),
    ], paths, many_files=True)


def get_folder(key, server, manifest):
    """`zelvorn get` on a folder listing against `zelvorn stdio` on the same folder as one
    "add_folder": what get adds (its sidecar, kept as the files complete) costs little."""
    paths = [small_name(i) for i in range(GET_FILES)]
    urls, sha = [server.url("/" + p) for p in paths], {p: manifest[p] for p in paths}
    files = [(p.split("/", 1)[1], u, os.path.getsize(server.root / p)) for p, u in zip(paths, urls)]
    stdio = zelvorn_files(sha, sum(f[2] for f in files), 1, lambda out: [zelvorn.add_folder(1, "small", files)])
    stdio.name = "zelvorn stdio"
    return Scenario(key, f"zelvorn get on a folder of {GET_FILES:,} files of 4 KiB", [
        Tool("zelvorn get --folder", lambda out, run_dir: zelvorn.get_folder(run_dir, out, "small", files), sha),
        stdio,
    ], paths, many_files=True)


def resume(key, server, manifest):
    source, url, sha = server.root / "big.bin", server.url("/big.bin"), {"big.bin": manifest["big.bin"]}
    size = source.stat().st_size
    half = size // 2

    def prepare(out):  # the half a stopped download left on disk
        with open(source, "rb") as src, open(out / "big.bin", "wb") as dst:
            copied = 0
            while copied < half:
                copied += os.copy_file_range(src.fileno(), dst.fileno(), half - copied)

    def check_log(requests):
        sent = sum(r.body_bytes for r in requests)
        ranged = [r for r in requests if r.status == 206 and r.range.startswith(f"bytes={half}-")]
        if sent != size - half or not ranged:
            raise Failure(f"resume fetched {sent} bytes (the missing half is {size - half}); requests: {requests}")

    return Scenario(key, "resume the 1 GiB file from its half", [
        zelvorn_files(sha, size - half, 1, lambda out: [zelvorn.add_file(1, url, pathLoc=str(out / "big.bin"),
                                                                         lenLoc=half, lenSvr=size)]),
        Tool("curl -C -", lambda out, _: [Process(["curl", "-sS", "-C", "-", "-o", out / "big.bin", url])], sha),
    ], ["big.bin"], prepare, check_log)


def memory(key, server, manifest):
    """Zelvorn on the 4 GiB file against itself on the 1 GiB file, and against curl on the same
    4 GiB: the kernel's part of writing a file grows faster than the file on its own."""
    def zelvorn_on(name, size_text):
        tool = zelvorn_files({name: manifest[name]}, (server.root / name).stat().st_size, 1,
                             lambda out: [zelvorn.add_file(1, server.url("/" + name))])
        tool.name = f"zelvorn {size_text}"
        return tool

    huge = server.url("/huge.bin")
    return Scenario(key, "peak memory as the file grows", [
        zelvorn_on("huge.bin", "4 GiB"), zelvorn_on("big.bin", "1 GiB"),
        Tool("curl -o 4 GiB", lambda out, _: [Process(["curl", "-sS", "-o", out / "huge.bin", huge])],
             {"huge.bin": manifest["huge.bin"]}),
    ], ["huge.bin", "big.bin"])


def all_scenarios(server, manifest, with_huge):
    scenarios = [one_file("1", server, manifest, False), one_file("2", server, manifest, True),
                 five_files("3", server, manifest), folder("4", server, manifest), resume("5", server, manifest)]
    if with_huge:
        scenarios.append(memory("6", server, manifest))
    scenarios += [many_tasks("7", server, manifest), small_folder("8", server, manifest),
                  get_folder("9", server, manifest)]
    return scenarios
