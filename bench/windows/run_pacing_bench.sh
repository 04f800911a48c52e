#!/usr/bin/env bash
# Pacing benchmark of the bandwidth-limited download, on loopback: starts nginx
# through the test fixture script and downloads its 3 MiB file /big.bin with
# "DataTransferRate_KBps" 64 and 256, then prints for each rate the measured
# throughput, the rate the pacing rule predicts for the blocks as they went
# (600 ms per block under 450 ms, else block time + 100 ms) and their ratio
# (target 0.9 - 1.1).
#
#   bench/windows/run_pacing_bench.sh [BUILD_DIR] [RATES...]
#     BUILD_DIR  a win64 build tree holding pacing_bench.exe (default build/win64)
#     RATES      transfer rates in KBps (default 64 256)
# TW_WINEPREFIX chooses the Wine prefix as for the tests.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
shift || true
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(64 256)
exe=$build/pacing_bench.exe
[ -f "$exe" ] || { echo "no $exe: build the pacing_bench target first" >&2; exit 1; }

work=$build/pacing-bench
state=$work/servers
out=$work/out
mkdir -p "$out"
servers=$root/tests/http/servers/http-servers.sh

winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { "$root/tests/support/wine-run" "$@" </dev/null 2>/dev/null; }

bash "$servers" start "$state" 2>/dev/null
trap 'bash "$servers" stop "$state" 2>/dev/null || true; rm -f "$out"/*' EXIT
# shellcheck disable=SC1091
. "$state/servers.env"
port=$TW_HTTP_PORT
source_file=$state/docroot/big.bin

status=0
for rate in "${rates[@]}"; do
  rm -f "$out/big.bin"
  line=$(wine_run "$exe" "$port" /big.bin "$rate" "$(winpath "$out/big.bin")") || true
  grep -q "result=0 " <<<"$line" || { echo "rate $rate: download failed ($line)" >&2; status=1; continue; }
  cmp -s "$out/big.bin" "$source_file" || { echo "rate $rate: wrong file ($line)" >&2; status=1; continue; }
  python3 - "$line" <<'PY'
import sys
f = dict(kv.split("=", 1) for kv in sys.argv[1].split())
ratio = float(f["ratio"])
kib = 1024.0
print(f"rate {f['rate']} KBps: {int(f['bytes']) / (1024 * 1024):.1f} MiB in {float(f['seconds']):.2f} s, "
      f"{f['blocks']} blocks (slowest {float(f['slowest_block_ms']):.1f} ms)")
print(f"  measured {float(f['measured_Bps']) / kib:.1f} KiB/s, predicted by the pacing rule "
      f"{float(f['predicted_Bps']) / kib:.1f} KiB/s, one full block per 600 ms {float(f['ideal_Bps']) / kib:.1f} KiB/s")
print(f"  ratio measured/predicted: {ratio:.3f} (target 0.9 - 1.1) {'OK' if 0.9 <= ratio <= 1.1 else 'OUT OF TARGET'}")
PY
done
exit $status
