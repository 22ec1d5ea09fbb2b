#!/usr/bin/env bash
# Builds and runs the HTTP benchmark: HttpDowner against `curl -o` on a file served by nginx on
# 127.0.0.1. The benchmark makes the file and starts nginx itself. Arguments go to bench_http
# (runs, file size in MiB). The build lock is held while measuring, so that no build runs beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build ] || cmake -S . -B build -G Ninja
flock /tmp/zv-build.lock cmake --build build --target bench_http
exec flock /tmp/zv-build.lock build/bench/bench_http "$@"
