#!/usr/bin/env bash
# One part of a seekprobe run per lab machine with GNU parallel over ssh, into a folder the
# machines share (the same corpus and results paths on each):
#   scripts/lab/seekprobe-parallel.sh MACHINES CORPUS RESULTS PARTS [seekprobe options ...]
#   seekprobe merge RESULTS --summary summary.csv --csv rows.csv --plot chart.svg
# MACHINES: parallel's ssh login file (one "user@host" a line; ":" is this machine). One part at a
# time on each machine (seekprobe runs its clips on all the cores); a part that fails is not
# retried (its status is the merge's to tell). SEEKPROBE_PARALLEL=--dryrun prints the commands.
set -euo pipefail
machines=${1:?ssh login file} corpus=${2:?corpus folder} results=${3:?results folder} parts=${4:?number of parts}
shift 4
parallel ${SEEKPROBE_PARALLEL:-} --sshloginfile "$machines" --jobs 1 --halt never -q \
  seekprobe "$corpus" --out "$results" --shard "{}/$parts" "$@" ::: $(seq 0 $((parts - 1)))
