"""Drives `zelvorn stdio` as a page would: the commands go in as JSON lines on its standard
input, and every event it writes comes out as a line into a file, so that writing the events
out is part of the job, as it is for a page."""

import json
from pathlib import Path

from .measure import Failure, Process

ZELVORN = Path(__file__).resolve().parents[2] / "build/app/zelvorn"


def init(folder: Path, threads):
    return {"name": "init", "config": {"Folder": str(folder), "ThreadCount": threads}}


def add_file(task_id, url, **resume):
    """A new file, or with pathLoc, lenLoc and lenSvr the one a page resumes."""
    return {"name": "add_file", "id": task_id, "fileUrl": url, **resume}


def add_folder(task_id, name, files):
    """A folder task as a page sends it: `files` are (path in the folder, URL, size), laid out
    below a server-side path."""
    prefix = "D:\\share\\" + name
    return {"name": "add_folder", "id": task_id, "nameLoc": name, "pathLoc": prefix,
            "lenSvr": sum(size for _, _, size in files),
            "files": [{"pathLoc": prefix + "\\" + path.replace("/", "\\"), "fileUrl": url, "lenSvr": size}
                      for path, url, size in files]}


def job(run_dir: Path, commands):
    """The process that runs `commands` (start_queue added), its events into run_dir."""
    stdin = run_dir / "commands.jsonl"
    stdin.write_text("".join(json.dumps(c) + "\n" for c in commands + [{"name": "start_queue"}]))
    return [Process([ZELVORN, "stdio"], stdin=stdin, stdout=run_dir / "events.jsonl")]


def check(run_dir: Path):
    """Fails unless every task of the run completed (a folder with "all": true) and nothing
    reported an error; returns how many events of each name came."""
    commands = [json.loads(line) for line in open(run_dir / "commands.jsonl")]
    tasks = {c["id"] for c in commands if c["name"] in ("add_file", "add_folder")}
    folders = {c["id"] for c in commands if c["name"] == "add_folder"}
    events = [json.loads(line) for line in open(run_dir / "events.jsonl")]
    complete = {e.get("id") for e in events
                if e["name"] == "down_complete" and (e.get("all") or e.get("id") not in folders)}
    errors = [e for e in events if e["name"] == "down_error"]
    if errors or complete != tasks:
        raise Failure(f"zelvorn completed tasks {sorted(complete)} of {sorted(tasks)}; "
                      f"{'errors' if errors else 'last events'}:\n  "
                      + "\n  ".join(json.dumps(e) for e in errors or events[-5:])
                      + f"\n(all events in {run_dir / 'events.jsonl'})")
    counts = {}
    for e in events:
        counts[e["name"]] = counts.get(e["name"], 0) + 1
    return counts


def get_folder(run_dir: Path, out: Path, name, files):
    """`zelvorn get --folder` on a listing of `files` ((path in the folder, URL, size)), into out."""
    listing = run_dir / "listing.json"
    listing.write_text(json.dumps({"name": name, "files": [{"url": url, "size": size, "path": path}
                                                           for path, url, size in files]}))
    return [Process([ZELVORN, "get", "--folder", listing, "-d", out], stdout=run_dir / "get.log")]
