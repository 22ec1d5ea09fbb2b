"""The files the scenarios download, made once in the work folder and kept with their sha256
in a manifest, so that later runs reuse them. The bytes are AES-CTR keystream from openssl:
as good as random for every transfer and compressor on the way, and fast to make."""

import hashlib
import json
import os
import subprocess
from pathlib import Path

MiB, GiB = 1 << 20, 1 << 30
FOLDER_FILES, FOLDER_FILE_SIZE = 1000, 16 * 1024
TASK_FILES, TASK_FILE_SIZE = 2000, 64 * 1024
SMALL_FILES, SMALL_FILE_SIZE = 10000, 4 * 1024
GET_FILES = 6000  # of the small files, for `zelvorn get`


def folder_name(index):
    return f"docs/f{index:04d}.bin"


def task_name(index):
    return f"tasks/t{index:04d}.bin"


def small_name(index):
    return f"small/s{index:05d}.bin"


def wanted(with_huge):
    """Every file to make: its path under the data folder and its size."""
    files = {"big.bin": GiB}
    files.update({f"part{i}.bin": 200 * MiB for i in range(1, 6)})
    files.update({folder_name(i): FOLDER_FILE_SIZE for i in range(FOLDER_FILES)})
    files.update({task_name(i): TASK_FILE_SIZE for i in range(TASK_FILES)})
    files.update({small_name(i): SMALL_FILE_SIZE for i in range(SMALL_FILES)})
    if with_huge:
        files["huge.bin"] = 4 * GiB
    return files


def make(data: Path, with_huge):
    """Makes whatever the manifest lacks; returns {path: sha256} for every wanted file."""
    manifest_path = data / "sha256.json"
    manifest = json.loads(manifest_path.read_text()) if manifest_path.exists() else {}
    missing = {name: size for name, size in wanted(with_huge).items()
               if name not in manifest or not (data / name).is_file() or (data / name).stat().st_size != size}
    if missing:
        print(f"making {len(missing)} data files ({sum(missing.values()) / GiB:.1f} GiB) in {data}", flush=True)
        with keystream() as stream:
            for name, size in sorted(missing.items()):
                manifest[name] = write(data / name, size, stream.stdout)
            stream.kill()
        manifest_path.write_text(json.dumps(manifest, indent=1, sort_keys=True))
    return manifest


def keystream():
    key, iv = os.urandom(32).hex(), os.urandom(16).hex()
    return subprocess.Popen(["openssl", "enc", "-aes-256-ctr", "-nosalt", "-K", key, "-iv", iv, "-in", "/dev/zero"],
                            stdout=subprocess.PIPE)


def write(path: Path, size, source):
    path.parent.mkdir(parents=True, exist_ok=True)
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        left = size
        while left:
            block = source.read(min(left, 4 * MiB))
            if not block:
                raise RuntimeError("openssl stopped before the data was made")
            digest.update(block)
            out.write(block)
            left -= len(block)
    return digest.hexdigest()


def sha256(path: Path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()
