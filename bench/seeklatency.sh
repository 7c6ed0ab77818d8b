#!/usr/bin/env bash
# Request-to-first-picture latency of seeks, measured by seekprobe (no window, no sound):
#   bench/seeklatency.sh SEEKPROBE CLIP [SEEKS]   -> "p50 N ms, p95 N ms, max N ms (M seeks)"
# The column is found by its name in seekprobe's header, so the figure survives a reordering.
set -euo pipefail
probe=${1:?seekprobe binary} clip=${2:?clip} seeks=${3:-100}
QT_QPA_PLATFORM=offscreen "$probe" "$clip" --seeks "$seeks" --seed 7 2>/dev/null | awk -F, '
  /request_to_picture_ms/ { for (i = 1; i <= NF; i++) if ($i == "request_to_picture_ms") col = i; next }
  col && NF >= col && $col != "" { print $col + 0 }' | sort -n | awk '
  { v[++n] = $1 }
  END {
    if (!n) { print "no seeks measured"; exit 1 }
    p50 = int(n * 0.50 + 0.5); p95 = int(n * 0.95 + 0.5)
    printf "p50 %d ms, p95 %d ms, max %d ms (%d seeks)\n", v[p50 < 1 ? 1 : p50], v[p95 < 1 ? 1 : p95], v[n], n
  }'
