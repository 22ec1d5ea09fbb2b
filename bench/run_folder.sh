#!/usr/bin/env bash
# Builds and runs the folder benchmark: the folder job against `aria2c -j1 -i` and `wget -i` on
# many small files served by nginx on 127.0.0.1. The benchmark makes the files and starts nginx
# itself. Arguments go to bench_folder (runs, files, file size in bytes). The build lock is held
# while measuring, so that no build runs beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build ] || cmake -S . -B build -G Ninja
flock /tmp/zv-build.lock cmake --build build --target bench_folder
exec flock /tmp/zv-build.lock build/bench/bench_folder "$@"
