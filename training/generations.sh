#!/usr/bin/env bash
# Runs training generations end to end and keeps a generation only when it beats the last
# kept one in the arena. Each generation: more solver labels, a training run started from
# the kept network, export, referee (network alone and 50 simulations), arena against the
# kept network; the figures go to docs/generations.tsv and docs/img/generations.png.
#
#   training/generations.sh FIRST LAST [labelling games per generation (default 4000)]
#
# Run state lives in training/runs/gN, new labels in training/data/ (trained on together with
# those kept in training/labels/); a stopped generation resumes when the same command is run
# again. For a trial run elsewhere, set
# TARNWICK_LABELS (labels folder), TARNWICK_RUNS (runs folder), TARNWICK_TABLE,
# TARNWICK_PLOT and TARNWICK_STEPS (training steps, default 15000).
set -euo pipefail
first="$1" last="$2" games="${3:-4000}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bin=build/release/tools/tarnwick py=/usr/bin/python3
labels="${TARNWICK_LABELS:-training/data}" runs="${TARNWICK_RUNS:-training/runs}"
table="${TARNWICK_TABLE:-docs/generations.tsv}" plot="${TARNWICK_PLOT:-docs/img/generations.png}"
steps="${TARNWICK_STEPS:-15000}"
kept="${TARNWICK_KEPT:-Resources/version0328.mlmodelc}"   # the network to beat
init="${TARNWICK_KEPT_CHECKPOINT:-$kept}"                # its checkpoint, or the folder itself
# The committed labels join the new ones, except in a trial run with its own labels folder.
committed=()
[ -n "${TARNWICK_LABELS:-}" ] || committed=("training/labels/*.tsv.gz")
[ -f "$table" ] || printf 'generation\talone_keeps\talone_best\tsims50_keeps\tsims50_best\telo\telo_low\telo_high\n' >"$table"

referee() { "$bin" referee --model "$1" --sims "$2" --seed 1 --critical "" | awk '$1 == "all" {gsub("%", ""); print $3 "\t" $4}'; }

for ((g = first; g <= last; g++)); do
    run="g$g" data="$labels/solver-labels-g$g.tsv" model="$runs/g$g/export/version0328.mlmodelc"
    [ -s "$data" ] || "$bin" label --games "$games" --min-ply 8 --max-opening 16 --seed "$((5000 + g))" >"$data"
    "$py" training/train.py --data "$labels/solver-labels*.tsv" "${committed[@]}" --run "$run" --runs-dir "$runs" \
        ${init:+--init "$init"} --blocks 5 --filters 48 --steps "$steps" --lr 3e-4 \
        --lr-schedule cosine --export "$model"
    alone="$(referee "$model" 0)" searched="$(referee "$model" 50)"
    elo="$("$bin" arena --model "$model" --opponent "$kept" --games 100 --seed "$g" 2>/dev/null |
           sed -n 's/.*Elo difference \(-\?[0-9]*\) (95%: \(-\?[0-9]*\) to \(-\?[0-9]*\)).*/\1\t\2\t\3/p')"
    printf 'g%s\t%s\t%s\t%s\n' "$g" "$alone" "$searched" "$elo" >>"$table"
    if [ "$(cut -f1 <<<"$elo")" -gt 0 ]; then
        kept="$model" init="$runs/$run/best.pt"
        echo "generation $g kept: Elo $elo against the previous"
    else
        echo "generation $g not kept: Elo $elo"
    fi
done
"$py" training/plot_generations.py "$table" "$plot"
if [ "$kept" = Resources/version0328.mlmodelc ]; then
    echo "no generation beat the shipped network"
else
    echo "kept network: $kept (copy it to Resources/version0328.mlmodelc to ship it)"
fi
