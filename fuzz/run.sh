#!/usr/bin/env bash
# Builds a libFuzzer target with clang (ASan and UBSan) and runs it over its corpus.
# Usage: fuzz/run.sh TARGET [SECONDS]   (new inputs are added to fuzz/corpus/TARGET)
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh TARGET [SECONDS]}
seconds=${2:-60}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZELVO_SANITIZE=ON -DZELVO_FUZZ=ON -DZELVO_BUILD_TESTS=OFF -DZELVO_BUILD_BENCH=OFF
cmake --build build/fuzz -j2 --target "fuzz_${target}"
mkdir -p "build/fuzz/findings"
"build/fuzz/fuzz/fuzz_${target}" -max_total_time="$seconds" -max_len=65536 \
  -artifact_prefix=build/fuzz/findings/ "fuzz/corpus/${target}"
