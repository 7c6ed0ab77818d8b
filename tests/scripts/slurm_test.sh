#!/usr/bin/env bash
# seekprobe at lab scale, for real: a single-node Slurm cluster (scripts/slurm-cluster.sh) runs a
# job array of 4 parts over the corpus of hard cases (seekprobe.sbatch), the merge puts them
# together, and the merged summary and rows must equal an unsharded run's (latencies aside), with
# the same exit status (what the reader read before a seek's first picture depends on timing just
# as the latencies do); a part taken away makes the merge fail with 3. The Kubernetes manifest and
# the GNU parallel line are parsed and dry-run.
#   slurm_test.sh SOURCE_DIR SEEKPROBE WORK_DIR
set -euo pipefail
src=${1:?source} probe=${2:?seekprobe} work=${3:?work folder}
fail() { echo "FAIL: $*" >&2; exit 1; }
missing=()
for p in parallel python3-yaml; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
rm -rf "$work/corpus" "$work/parts" "$work/whole" "$work/out"
mkdir -p "$work/out"
"$probe" --make-corpus "$work/corpus" >/dev/null
args=(--verify --seeks 6 --max-error-pictures 25)

trap 'bash "$src/scripts/slurm-cluster.sh" stop "$work/cluster"' EXIT
eval "$(bash "$src/scripts/slurm-cluster.sh" start "$work/cluster")"
started=$SECONDS
# --wait ends with the array's worst status: gates crossed are findings, not failures here.
sbatch --wait --array=0-3 -o "$work/out/task-%a.out" -e "$work/out/task-%a.err" \
  --export=ALL,SEEKPROBE="$probe" "$src/scripts/lab/seekprobe.sbatch" "$work/corpus" "$work/parts" "${args[@]}" || true
echo "job array of 4 parts: $((SECONDS - started)) s"
for k in 0 1 2 3; do
  grep -q "part $k of 4 (Slurm)" "$work/out/task-$k.err" || fail "task $k did not run as part $k of 4: $(cat "$work/out/task-$k.err")"
done

set +e
"$probe" "$work/corpus" --out "$work/whole" "${args[@]}" --summary "$work/whole.csv" >/dev/null 2>"$work/whole.err"
whole=$?
"$probe" merge "$work/whole" --csv "$work/whole-rows.csv" >/dev/null 2>&1
"$probe" merge "$work/parts" --summary "$work/merged.csv" --csv "$work/merged-rows.csv" >/dev/null 2>"$work/merge.err"
merged=$?
set -e
[ "$merged" = "$whole" ] || fail "the merge exits $merged, the unsharded run $whole: $(cat "$work/merge.err")"
python3 - "$work" <<'PY' || fail "the merged results differ from the unsharded run's"
import csv, sys
work = sys.argv[1]
latency = {"p50_ms", "p95_ms", "request_to_picture_ms", "exact_ms", "bytes", "blocks", "bytes_per_seek"}
def rows(name):
    with open(f"{work}/{name}") as f:
        return [{k: v for k, v in r.items() if k not in latency} for r in csv.DictReader(f)]
for a, b in (("whole.csv", "merged.csv"), ("whole-rows.csv", "merged-rows.csv")):
    x, y = rows(a), rows(b)
    assert len(x) == 11 if a == "whole.csv" else len(x) == 66, (a, len(x))
    assert x == y, [(p, q) for p, q in zip(x, y) if p != q][:2]
PY
rm "$work/parts/part-0002-of-0004.facts"
set +e
"$probe" merge "$work/parts" >/dev/null 2>"$work/merge.err"
[ $? = 3 ] && grep -q "part 2 of 4 is missing" "$work/merge.err" || fail "a missing part: $(cat "$work/merge.err")"
set -e

python3 - "$src/scripts/lab/seekprobe-job.yaml" <<'PY' || fail "the Kubernetes manifest"
import sys, yaml
job = yaml.safe_load(open(sys.argv[1]))["spec"]
assert job["completionMode"] == "Indexed"
command = job["template"]["spec"]["containers"][0]["command"]
assert command[command.index("--shard-count") + 1] == str(job["completions"])
rule = job["podFailurePolicy"]["rules"][0]
assert rule["action"] == "FailIndex" and rule["onExitCodes"]["values"] == [4]
PY
echo : >"$work/machines"
SEEKPROBE_PARALLEL=--dryrun bash "$src/scripts/lab/seekprobe-parallel.sh" "$work/machines" /c /r 4 --verify >"$work/parallel.out"
[ "$(grep -c -- '--out /r --shard [0-3]/4 --verify' "$work/parallel.out")" = 4 ] || fail "the parallel line: $(cat "$work/parallel.out")"
echo "1 passed, 0 failed"
