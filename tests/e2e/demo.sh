#!/usr/bin/env bash
# The program's main job on a simulated managed computer (./dev demo):
#  - the program is the release artifact, the 32-bit twprereqhandler.exe of the
#    win32 build, and runs under WOW64 as on 64-bit Windows;
#  - a private Wine prefix (<build>/demo-prefix) becomes a 64-bit Windows
#    computer with the agent installed: C:\TWAgent with bin\7za.exe, the agent's
#    registry key in the 32-bit view, a 64-bit Java 8 recorded under the JavaSoft
#    keys, and two Java 8 updates really installed from MSI packages;
#  - nginx on loopback plays the management server and serves the patch's
#    dependency archive at /store/<file>; the agent's transfer rate is 1024 KBps,
#    so the archive comes in byte-range blocks;
#  - the agent's command line for a Java 8 Update 202 patch is run, and the
#    script shows the exit code (read inside Windows), the log, the registry
#    values written, the staged installer files and the update removed.
#
#   tests/e2e/demo.sh [BUILD_DIR]   (default build/win32, already configured)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
prefix=$build/demo-prefix
state=$build/demo-servers
servers=$root/tests/http/servers/http-servers.sh
# shellcheck source=tests/e2e/managed-computer.sh
MC_ROOT=$root
. "$root/tests/e2e/managed-computer.sh"

bold() { printf '\n\033[1m== %s ==\033[0m\n' "$*"; }
say() { printf '   %s\n' "$*"; }
indent() { sed 's/\r$//; s/^/   | /'; }
wine_run() { mc_wine "$@"; }

# What the demo needs beyond the program: the stand-in Java update packages,
# the dependency archive and the archive tool (built by CMake into the tree).
cmake --build "$build" --target twprereqhandler tw_java_msis tw_e2e_data >/dev/null

cleanup() {
  bash "$servers" stop "$state" 2>/dev/null || true
  mc_stop
}
trap cleanup EXIT

bold "Starting the management server (nginx on loopback)"
bash "$servers" start "$state" 2>/dev/null
# shellcheck disable=SC1091
. "$state/servers.env"
# What the server saw is shown for this run only (nginx appends to its log).
: >"$state/nginx-access.log"
archive=jre-8u202-windows-x64.zip
mkdir -p "$state/docroot/store"
cp "$build/e2e-data/java-deps.zip" "$state/docroot/store/$archive"
say "http://127.0.0.1:$TW_HTTP_PORT/store/$archive ($(stat -c %s "$state/docroot/store/$archive") bytes):"
python3 -c "
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(f'{i.file_size:>10}  {i.filename}')" "$state/docroot/store/$archive" | indent

bold "Preparing a managed 64-bit Windows computer (Wine prefix $prefix)"
mc_prepare "$prefix" "$build" "$TW_HTTP_PORT" 1024
drive=$MC_DRIVE
agent=$MC_AGENT
staging=$MC_STAGING
say "agent installed in C:\\TWAgent\\ (bin\\7za.exe, bin\\twprereqhandler.exe, logs, patches)"
say "agent key seeded with regedit /S (explicit Wow6432Node paths: the agent's 32-bit view):"
say "  server 127.0.0.1:$TW_HTTP_PORT over http, DataTransferRate_KBps 1024, resource ID 301"
say "Java 8 (64-bit) under the JavaSoft keys: C:\\Program Files\\Java\\jre1.8.0_201 (JRE), ...\\jdk1.8.0_201 (JDK)"

uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
show_updates() {
  local code out
  for code in '{26A24AE4-039D-4CA4-87B4-2F64180191F0}' '{26A24AE4-039D-4CA4-87B4-2F64180201F0}'; do
    if out=$(wine_run reg query "$uninstall\\$code" /v DisplayVersion /reg:64); then
      say "$code  installed, DisplayVersion $(tr -d '\r' <<<"$out" | awk '/DisplayVersion/ {print $3}')"
    else
      say "$code  not installed"
    fi
  done
}
bold "Installing two Java 8 updates (wixl-built MSI packages, msiexec /i)"
for msi in java8-1910-x64 java8-2010-x64; do
  wine_run msiexec /i "$(mc_winpath "$build/handler-msi/$msi.msi")" /qn
done
show_updates

bold "Running the program as the agent does (Java 8 Update 202, 64-bit)"
# The machine type in the exe's PE header: 0x14c is a 32-bit x86 program.
machine=$(python3 -c "
import struct, sys
d = open(sys.argv[1], 'rb').read(4096)
print(hex(struct.unpack_from('<H', d, struct.unpack_from('<I', d, 0x3C)[0] + 4)[0]))" "$build/twprereqhandler.exe")
case $machine in
  0x14c) say "program: $build/twprereqhandler.exe, a 32-bit exe (the release artifact), run under WOW64" ;;
  0x8664) say "program: $build/twprereqhandler.exe, a 64-bit exe" ;;
  *) say "program: $build/twprereqhandler.exe, machine type $machine" ;;
esac
args='-p jre-8u202-windows-x64.exe -n Java_8_Update_202_x64 -v 1.8 -f jre-8u202-windows-x64.exe -d jre-8u202-windows-x64.zip -x 64 -j 8.0.2010.9'
printf '@echo off\r\ncd /d C:\\TWAgent\r\nC:\\TWAgent\\bin\\twprereqhandler.exe %s\r\necho EXIT=%%errorlevel%%\r\n' "$args" \
  >"$drive/demo-run.bat"
say "C:\\TWAgent\\bin\\twprereqhandler.exe $args"
start=$(date +%s.%N)
out=$(wine_run cmd /c 'C:\demo-run.bat' | tr -d '\r')
seconds=$(python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.1f}')" "$start" "$(date +%s.%N)")
exit_code=$(sed -n 's/^EXIT=//p' <<<"$out")
case $exit_code in
  0) meaning="the patch may be installed: installer files staged" ;;
  13) meaning="missing agent configuration or argument" ;;
  10047) meaning="imaged computer" ;;
  20001) meaning="Java is in use" ;;
  -1) meaning="the dependency download failed" ;;
  *) meaning="installer or extraction result" ;;
esac
bold "Exit code (read inside Windows with %errorlevel%): ${exit_code:-?} - $meaning (${seconds} s)"

bold "The log: C:\\TWAgent\\logs/twprereqhandler.log"
indent <"$agent/logs/twprereqhandler.log"

bold "What the server saw (nginx access log)"
awk '{print $6, $7, $9, $10}' "$state/nginx-access.log" | tr -d '"' | indent

bold "Registry values written (32-bit view: reg query ... /reg:32)"
say "HKLM\\Software\\Orvanta:"
wine_run reg query 'HKLM\Software\Orvanta' /reg:32 | tr -d '\r' | grep -E 'REG_' | indent || true
if wine_run reg query 'HKLM\Software\Orvanta\Tarnwick\TWAgent\AppDetection\Java_8_Update_202_x64' /reg:32 >/dev/null; then
  say "detection key HKLM\\Software\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\Java_8_Update_202_x64: present"
else
  say "detection key HKLM\\Software\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\Java_8_Update_202_x64: MISSING"
fi
say "ServerInfo TWLastAccessName: $(wine_run reg query 'HKLM\Software\Orvanta\Tarnwick\TWAgent\ServerInfo' /v TWLastAccessName /reg:32 | tr -d '\r' | awk '/TWLastAccessName/ {print $3}')"

bold "Staged installer files: C:\\windows\\system32\\config\\systemprofile\\AppData\\LocalLow\\oracle"
if [ -d "$staging" ]; then
  (cd "$staging" && find . -type f -printf '%10s  %P\n' | sort -k2) | indent
else
  say "(nothing staged)"
fi
say "patches folder: $(cd "$agent/patches" && find . -maxdepth 1 -mindepth 1 -printf '%P  ' | sort)"

bold "Java 8 updates after the run (the older one is removed)"
show_updates
echo
# The demo fails when the main road did not end as it should.
[ "$exit_code" = 0 ] && [ -f "$staging/Java/jre1.8.0_202/Data1.cab" ]
