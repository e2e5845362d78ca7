#!/usr/bin/env bash
# scripts/occusim2-replicates with GNU parallel: every replicate is complete and valid, its
# seed is base + i, different seeds give different data, one seed run again gives the same
# bytes, failures reach the index and the exit status, and the Slurm script's task runs the
# same replicate.
#   replicates_check.sh SOURCE_DIR OCCUSIM2_BINARY
set -euo pipefail
src=$1 bin=$2
script=$src/scripts/occusim2-replicates

fail() {
  echo "replicates_check: $*" >&2
  exit 1
}
command -v parallel >/dev/null 2>&1 ||
  fail "GNU parallel is not installed (Debian package parallel; ./scripts/check installs it)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A stand-in 'parallel' first on the PATH records that the script went through it.
mkdir "$work/bin"
real_parallel=$(command -v parallel)
printf '#!/bin/sh\necho "$@" >>"%s/parallel.log"\nexec "%s" "$@"\n' "$work" "$real_parallel" \
  >"$work/bin/parallel"
chmod +x "$work/bin/parallel"
export PATH="$work/bin:$PATH"

# A stochastic single-season study: 4 occasions, 200 sites, psi 0.6.
T=4 N=200 count=12 base=500
args=("-$T" "$N" 0.6 0.4 0.5 0.6 0.7)
"$script" -n $count -s $base -o "$work/a" -j 2 --occusim2 "$bin" -- "${args[@]}" ||
  fail "the replicates did not all succeed"
[[ -s $work/parallel.log ]] || fail "the replicates did not run through GNU parallel"

# The index: a header line, then directory, seed and status of every replicate in order.
{
  printf 'directory\tseed\tstatus\n'
  for ((i = 0; i < count; i++)); do printf 'rep%06d\t%d\t0\n' $i $((base + i)); done
} >"$work/expected-index"
cmp "$work/expected-index" "$work/a/index.tsv" || fail "wrong index: $(cat "$work/a/index.tsv")"

# A complete data file: header "rows<tab>T", as many history rows as it says (one per site,
# each T characters 0 or 1 followed by tabs), then the closing lines 0 and 0. The list file's
# counts add up to the sites, and each history has as many rows as its count.
check_tree_replicate() {
  local dir=$1 seed=$2
  awk -v T=$T -v N=$N -F'\t' '
    NR == 1 { if ($1 != N || $2 != T || NF != 2) { print "header " $0; bad = 1 }; rows = $1; next }
    NR <= rows + 1 {
      if (NF != T + 1 || $(T + 1) != "") { print "row " NR ": " $0; bad = 1 }
      h = ""; for (k = 1; k <= T; k++) { if ($k !~ /^[01]$/) bad = 1; h = h $k }
      seen[h]++; next
    }
    { tail = tail $0 "|" }
    END {
      if (tail != "0|0|") { print "closing lines " tail; bad = 1 }
      while ((getline line < LIST) > 0) {
        split(line, f, " "); n = f[2]; sub(/;$/, "", n)
        if (seen[f[1]] != n + 0) { print "history " f[1] " has " seen[f[1]] " rows, list " n; bad = 1 }
        total += n
      }
      if (total != N) { print "list total " total; bad = 1 }
      exit bad
    }' LIST="$dir/occusim.inp" "$dir/occusim.sdh" || fail "$dir: invalid data"
  grep -q "^seed=$seed, rand#'s:" "$dir/stderr.txt" || fail "$dir: no seed line for seed $seed"
  grep -q "^ARG\[$((${#args[@]} + 1))\]:SEED=$seed\$" "$dir/stdout.txt" ||
    fail "$dir: SEED=$seed is not the last argument"
}
for ((i = 0; i < count; i++)); do
  check_tree_replicate "$work/a/$(printf 'rep%06d' $i)" $((base + i))
done

# Different seeds give different data.
distinct=$(md5sum "$work"/a/rep*/occusim.sdh | cut -d' ' -f1 | sort -u | wc -l)
[[ $distinct -eq $count ]] || fail "only $distinct different data files among $count seeds"

# One seed run again, by the script and by hand, gives the same bytes.
"$script" -n 1 -s $((base + 7)) -o "$work/b" --occusim2 "$bin" -- "${args[@]}" ||
  fail "the rerun failed"
for f in occusim.sdh occusim.inp stdout.txt stderr.txt; do
  cmp "$work/a/rep000007/$f" "$work/b/rep000000/$f" || fail "seed $((base + 7)) rerun: $f differs"
done
mkdir "$work/by-hand"
(cd "$work/by-hand" && "$bin" "${args[@]}" SEED=$((base + 7)) >stdout.txt 2>stderr.txt)
for f in occusim.sdh occusim.inp stdout.txt stderr.txt; do
  cmp "$work/a/rep000007/$f" "$work/by-hand/$f" || fail "seed $((base + 7)) by hand: $f differs"
done

# The output directory is not overwritten.
if "$script" -n 2 -o "$work/a" --occusim2 "$bin" -- "${args[@]}" 2>"$work/err"; then
  fail "a directory that holds replicates was reused"
fi
grep -q 'already holds replicates' "$work/err" || fail "no message for a reused directory"

# Any command line: a multistate tree leaves occusim.tmp, and the data file's header counts
# the rows that the temporary file holds.
"$script" -n 3 -s 9 -o "$work/ms" --occusim2 "$bin" -- \
  -2 50 0.5 0.4 0.5 0.5 0.6 0.6 0.8 0.8 MULTISTATE || fail "the multistate replicates failed"
for dir in "$work"/ms/rep*; do
  rows=$(wc -l <"$dir/occusim.tmp")
  [[ $(head -n1 "$dir/occusim.sdh") == "$rows"$'\t'2 ]] || fail "$dir: header does not count $rows rows"
  [[ $(tail -n2 "$dir/occusim.sdh" | tr '\n' '|') == '0|0|' ]] || fail "$dir: no closing lines"
  [[ $((rows + 3)) -eq $(wc -l <"$dir/occusim.sdh") ]] || fail "$dir: wrong number of lines"
done

# A replicate that fails shows in the index and in the exit status.
status=0
"$script" -n 3 -o "$work/bad" --occusim2 "$bin" -- -30 10 0.5 0.5 2>"$work/err" || status=$?
[[ $status -eq 1 ]] || fail "failed replicates gave exit status $status, not 1"
[[ $(cut -f3 "$work/bad/index.tsv" | tail -n +2 | tr '\n' ' ') == '1 1 1 ' ]] ||
  fail "the index does not show the failures: $(cat "$work/bad/index.tsv")"
grep -q '3 of 3 replicates' "$work/err" || fail "no message for the failures"
grep -q 'T must be < 30' "$work/bad/rep000000/stderr.txt" || fail "the replicate's stderr is lost"

# The Slurm script's task 3 is replicate 3 of its settings: seed 1003, directory study/rep000003.
mkdir "$work/slurm"
(cd "$work/slurm" && SLURM_ARRAY_TASK_ID=3 OCCUSIM2="$bin" OCCUSIM2_REPLICATES="$script" \
  bash "$src/scripts/occusim2-replicates.slurm") || fail "the Slurm task failed"
(cd "$work/slurm" && "$script" --index -n 4 -s 1000 -o study 2>/dev/null) || true
[[ $(sed -n 5p "$work/slurm/study/index.tsv") == $'rep000003\t1003\t0' ]] ||
  fail "the Slurm task is not replicate 3 with seed 1003: $(cat "$work/slurm/study/index.tsv")"
[[ ! -e $work/slurm/study/rep000000 ]] || fail "the Slurm task ran more than its replicate"
slurm_args=$(sed -n 's/^command_line=(\(.*\))$/\1/p' "$src/scripts/occusim2-replicates.slurm")
mkdir "$work/slurm-by-hand"
# shellcheck disable=SC2086
(cd "$work/slurm-by-hand" && "$bin" $slurm_args SEED=1003 >stdout.txt 2>stderr.txt)
for f in occusim.sdh occusim.inp stdout.txt stderr.txt; do
  cmp "$work/slurm/study/rep000003/$f" "$work/slurm-by-hand/$f" || fail "Slurm task: $f differs"
done
echo "replicates_check: $count replicates through GNU parallel, all valid and reproducible"
