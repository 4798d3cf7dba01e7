#!/bin/sh
# The perfect-play subtrees below the first player's mistakes in the opening tree: for each
# position of the tree with the first player to move (from ply 4 on), every column that does
# not score best, followed 7 plies deep (at most to ply 18) with both sides playing best.
# Search goes down these lines, so the network must value them; the tree alone never shows them.
# Resumable: each subtree is appended whole, and a root already in OUT is skipped.
# usage (from the checkout's root): training/subtrees.sh OUT [TREE]
set -e
cd "$(dirname "$0")/.."
out=$1
tree=${2:-training/opening-tree.tsv}
tarnwick=build/release/tools/tarnwick
awk -F'\t' 'length($1) % 2 == 0 && length($1) >= 4 {
    n = split($2, s, ","); best = -99
    for (c = 1; c <= n; c++) if (s[c] != "x" && s[c] + 0 > best) best = s[c] + 0
    for (c = 1; c <= n; c++) if (s[c] != "x" && s[c] + 0 != best) print $1 c
}' "$tree" | while read -r root; do
    grep -q "^$root	" "$out" 2>/dev/null && continue
    plies=$((${#root} + 7)); [ "$plies" -gt 18 ] && plies=18
    "$tarnwick" opening --from "$root" --plies "$plies" > "$out.part"
    cat "$out.part" >> "$out"
done
rm -f "$out.part"
