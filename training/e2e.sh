#!/usr/bin/env bash
# The whole pipeline in miniature, so that it cannot rot: self-play records and solver
# labels, a two-step training run, export, the exported model loaded by the C++ interpreter and compared with PyTorch,
# and a short referee run. Usage: training/e2e.sh path/to/tarnwick
set -euo pipefail
bin="$1"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX")"
trap 'rm -rf "$work"' EXIT
py=/usr/bin/python3

"$bin" label --games 12 --min-ply 14 --max-opening 18 --seed 7 >"$work/labels.tsv" 2>/dev/null
test -s "$work/labels.tsv"
"$bin" selfplay-data --games 2 --sims 10 --seed 1 --out "$work/games.twsp" 2>/dev/null
"$py" "$root/training/train.py" --data "$work/labels.tsv" "$work/games.twsp" --run e2e --runs-dir "$work/runs" \
    --blocks 1 --filters 8 --steps 2 --eval-every 1 --checkpoint-every 1 --holdout 0.2 \
    --export "$work/e2e.mlmodelc" >/dev/null
"$py" "$root/training/parity.py" --checkpoint "$work/runs/e2e/best.pt" --model "$work/e2e.mlmodelc" \
    --tarnwick "$bin" --positions 200
head -n 20 "$root/bench/positions.tsv" >"$work/positions.tsv"
"$bin" referee --model "$work/e2e.mlmodelc" --sims 5 --positions "$work/positions.tsv" --seed 1
