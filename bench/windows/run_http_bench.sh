#!/usr/bin/env bash
# Download benchmark of the plain downloader against curl, in one run and on
# loopback: starts nginx through the test fixture script, serves a 256 MiB file
# (incompressible) and a 256 MiB text with its pre-compressed twin, then prints
#  - the throughput of http_bench.exe (DOWNLOAD_FILE, no gzip) and of curl, best
#    of N runs each, interleaved, and their ratio; also the same GET through
#    bare WinHTTP calls into memory (the platform's ceiling under Wine), and
#    through a bare WinHTTP loop that writes the same file with the
#    downloader's read size: ours against that loop isolates our own cost
#    (target >= 0.95);
#  - the peak working set of a gzip download of the 256 MiB text against an idle
#    run of the same program, as a difference in MiB (target <= 64);
#  - the load average before and after the runs (the machine may be shared).
#
#   bench/windows/run_http_bench.sh [BUILD_DIR] [RUNS]
#     BUILD_DIR  a win64 build tree holding http_bench.exe (default build/win64)
#     RUNS       downloads per side for the throughput (default 3)
# TW_WINEPREFIX chooses the Wine prefix as for the tests.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
runs=${2:-3}
exe=$build/http_bench.exe
[ -f "$exe" ] || { echo "no $exe: build the http_bench target first" >&2; exit 1; }

work=$build/http-bench
state=$work/servers
data=$work/data
out=$work/out
mkdir -p "$data" "$out"
servers=$root/tests/http/servers/http-servers.sh

winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { "$root/tests/support/wine-run" "$@" </dev/null 2>/dev/null; }

# The served files live outside the document root (which the fixture rebuilds
# at every start) and are linked into it; they are made once.
size=$((256 * 1024 * 1024))
if [ "$(stat -c %s "$data/bench256.bin" 2>/dev/null || echo 0)" != "$size" ]; then
  echo "making $data/bench256.bin (256 MiB, incompressible)" >&2
  head -c "$size" /dev/urandom >"$data/bench256.bin"
fi
if [ "$(stat -c %s "$data/bench256.txt" 2>/dev/null || echo 0)" != "$size" ] || [ ! -s "$data/bench256.txt.gz" ]; then
  echo "making $data/bench256.txt (256 MiB text) and its gzip twin" >&2
  python3 - "$data/bench256.txt" "$size" <<'EOF'
import sys
path, size = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    written, i = 0, 0
    while written < size:
        block = "".join(f"record {n:010d} of the gzip benchmark text, value {n * 7919 % 1000003:07d}\n"
                        for n in range(i, i + 10000)).encode()
        block = block[: size - written]
        f.write(block)
        written += len(block)
        i += 10000
EOF
  gzip -6 -c "$data/bench256.txt" >"$data/bench256.txt.gz"
fi

bash "$servers" start "$state" 2>/dev/null
trap 'bash "$servers" stop "$state" 2>/dev/null || true; rm -f "$out"/*' EXIT
# shellcheck disable=SC1091
. "$state/servers.env"
for f in bench256.bin bench256.txt bench256.txt.gz; do ln -sf "$data/$f" "$state/docroot/$f"; done
port=$TW_HTTP_PORT
url=http://127.0.0.1:$port

# Start the prefix's wineserver once so that the runs do not pay for it.
wine_run "$exe" idle >/dev/null || true

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
best_ours=""
best_curl=""
best_bare=""
best_file=""
best() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:] if x))" "$@"; }
for i in $(seq "$runs"); do
  rm -f "$out/ours.bin" "$out/curl.bin" "$out/bare.bin"
  line=$(wine_run "$exe" download "$port" /bench256.bin "$(winpath "$out/ours.bin")")
  s=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  cmp -s "$out/ours.bin" "$data/bench256.bin" || { echo "ours: wrong file ($line)" >&2; exit 1; }
  c=$(curl -s -o "$out/curl.bin" -w '%{time_total}' "$url/bench256.bin")
  cmp -s "$out/curl.bin" "$data/bench256.bin" || { echo "curl: wrong file" >&2; exit 1; }
  bline=$(wine_run "$exe" winhttp "$port" /bench256.bin)
  b=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$bline")
  grep -q "bytes=$size result=0" <<<"$bline" || { echo "bare WinHTTP: wrong answer ($bline)" >&2; exit 1; }
  fline=$(wine_run "$exe" winhttp-file "$port" /bench256.bin "$(winpath "$out/bare.bin")")
  f=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$fline")
  cmp -s "$out/bare.bin" "$data/bench256.bin" || { echo "bare WinHTTP into a file: wrong file ($fline)" >&2; exit 1; }
  printf 'run %d: ours %.3f s, curl %.3f s, bare WinHTTP %.3f s, bare WinHTTP into a file %.3f s\n' \
    "$i" "$s" "$c" "$b" "$f"
  best_ours=$(best $best_ours "$s")
  best_curl=$(best $best_curl "$c")
  best_bare=$(best $best_bare "$b")
  best_file=$(best $best_file "$f")
done
rm -f "$out/ours.bin" "$out/curl.bin" "$out/bare.bin"

idle=$(wine_run "$exe" idle | sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p')
gz_line=$(wine_run "$exe" gzip "$port" /bench256.txt "$(winpath "$out/gz.txt")")
gz=$(sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p' <<<"$gz_line")
gz_seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$gz_line")
cmp -s "$out/gz.txt" "$data/bench256.txt" || { echo "gzip download: wrong file ($gz_line)" >&2; exit 1; }

load_end=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$size" "$best_ours" "$best_curl" "$idle" "$gz" "$gz_seconds" "$(stat -c %s "$data/bench256.txt.gz")" \
  "$best_bare" "$best_file" "$runs" "$load_start" "$load_end" "$(nproc)" <<'EOF'
import sys
size, ours, curl, idle, gz, gz_s, gz_size, bare, bare_file, runs, load_start, load_end, cpus = sys.argv[1:]
size, ours, curl, idle, gz, gz_s, gz_size = int(size), float(ours), float(curl), int(idle), int(gz), float(gz_s), int(gz_size)
bare, bare_file = float(bare), float(bare_file)
mib = 1024 * 1024
ratio = (size / ours) / (size / curl)
diff = (gz - idle) / mib
print(f"download 256 MiB, best of runs: ours {size / ours / mib:.1f} MiB/s ({ours:.3f} s), "
      f"curl {size / curl / mib:.1f} MiB/s ({curl:.3f} s)")
print(f"throughput ratio ours/curl: {ratio:.2f}")
print(f"bare WinHTTP into memory: {size / bare / mib:.1f} MiB/s ({bare:.3f} s); ratio bare/curl {curl / bare:.2f}, "
      f"ours/bare {bare / ours:.2f}")
own = bare_file / ours
print(f"bare WinHTTP into a file (same read size): {size / bare_file / mib:.1f} MiB/s ({bare_file:.3f} s); "
      f"ratio bare-file/curl {curl / bare_file:.2f}")
print(f"throughput ratio ours/bare WinHTTP into a file, best of {runs}: {own:.2f} (target >= 0.95) "
      f"{'OK' if own >= 0.95 else 'BELOW TARGET'}")
print(f"gzip download of 256 MiB ({gz_size / mib:.1f} MiB on the wire) in {gz_s:.3f} s: "
      f"peak working set {gz / mib:.1f} MiB, idle run {idle / mib:.1f} MiB")
print(f"peak working set difference: {diff:.1f} MiB (target <= 64) {'OK' if diff <= 64 else 'ABOVE TARGET'}")
print(f"load average on {cpus} CPUs: {load_start} before the runs, {load_end} after")
EOF
