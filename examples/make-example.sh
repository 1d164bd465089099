#!/usr/bin/env bash
# Remakes the shipped example analysis, examples/analysis/{pedigree.dat,
# pass.dat,truth.txt}, with the simulator: 300 bulls, three traits on the
# scale of milk, fat and protein yields, two genetic groups and a base group.
# The files depend only on the options and the seed, so running this again
# gives the same bytes (tests/pipeline_test.cpp checks that it does).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target simulate -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
mkdir -p examples/analysis
cd examples/analysis
../../build/tools/simulate --bulls 300 --traits 3 --groups 2 \
  --names MILK,FAT,PROT --sd 1200,45,35 --mean 8000,300,250 \
  --h2 0.30,0.28,0.25 --rg 0.55,0.85,0.65 --re 0.6,0.85,0.7 --seed 2024
ls -l pedigree.dat pass.dat truth.txt
