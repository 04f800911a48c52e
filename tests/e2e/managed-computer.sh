# Shell helpers (sourced) that turn a private Wine prefix into a managed 64-bit
# Windows computer with the agent installed, for the demo and the benchmarks:
#
#   . tests/e2e/managed-computer.sh
#   mc_prepare PREFIX BUILD PORT RATE   fresh prefix; C:\TWAgent with bin\7za.exe and
#                                       bin\twprereqhandler.exe; the agent key (32-bit view,
#                                       server 127.0.0.1:PORT over http, DataTransferRate_KBps
#                                       RATE); a 64-bit Java 8 under the JavaSoft keys
#   mc_wine PROGRAM ARGS...              runs a Windows program in that prefix
#   mc_winpath /linux/path               -> Z:\linux\path
#   mc_stop                              stops the prefix's wineserver
# Needs MC_ROOT (the repository) set before sourcing, or finds it from here.

MC_ROOT=${MC_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

mc_winpath() { printf 'Z:%s' "${1//\//\\}"; }

mc_wine() { "$MC_ROOT/tests/support/wine-run" "$@" </dev/null 2>/dev/null; }

mc_stop() { WINEPREFIX=$TW_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true; }

mc_prepare() {
  local prefix=$1 build=$2 port=$3 rate=$4
  export TW_WINEPREFIX=$prefix
  mc_stop
  rm -rf "$prefix" "$prefix.lock"
  mc_wine cmd /c exit 0 >/dev/null || true
  # Keep the prefix's wineserver alive between the program starts.
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -p 300 2>/dev/null || true
  MC_DRIVE=$prefix/drive_c
  MC_AGENT=$MC_DRIVE/TWAgent
  MC_STAGING=$MC_DRIVE/windows/system32/config/systemprofile/AppData/LocalLow/oracle
  mkdir -p "$MC_AGENT/bin" "$MC_AGENT/logs" "$MC_AGENT/patches"
  cp "$build/e2e-data/7za.exe" "$MC_AGENT/bin/7za.exe"
  cp "$build/twprereqhandler.exe" "$MC_AGENT/bin/twprereqhandler.exe"

  # The agent keeps its key in the 32-bit view: Wow6432Node, seen from the
  # 64-bit regedit.
  local reg=$prefix/managed-computer.reg
  cat >"$reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Orvanta\\Tarnwick\\TWAgent]
"TWAgentInstallDir"="C:\\\\TWAgent\\\\"
"TWAgentVersion"="9.1.0.412"
"AgentServiceName"="TWAgentService"
"MSPName"="Northwind Managed Services"
"CustomerName"="Contoso Ltd"
"CustomerId"="CUST-7731"
"TWProductCode"="TWEE"
"RemoteOfficeName"="Head Office"
"RemoteOfficeID"="1"
"InstallSource"="AgentInstaller"
"InstallMode"="2"
"EnableDistributionServer"="no"
"EnableDSRoute"="no"
"EnableChecksum"="yes"
"ProxyEnabled"="NO"
"DataTransferRate_KBps"="$rate"
"TWAgentLogLevel"=dword:00000002

[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Orvanta\\Tarnwick\\TWAgent\\ServerInfo]
"TWServerName"="127.0.0.1"
"TWServerInstalledTime"="1546300800"
"TWServerFlatName"="localhost"
"TWServerIPAddress"="127.0.0.1"
"TWServerPort"="$port"
"TWServerProtocol"="http"

[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Orvanta\\Tarnwick\\TWAgent\\SystemDetails]
"TWAgentResourceID"="301"

[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Runtime Environment]
"CurrentVersion"="1.8"

[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Runtime Environment\\1.8]
"JavaHome"="C:\\\\Program Files\\\\Java\\\\jre1.8.0_201"

[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Development Kit\\1.8]
"JavaHome"="C:\\\\Program Files\\\\Java\\\\jdk1.8.0_201"
EOF
  mc_wine regedit /S "$(mc_winpath "$reg")"
}
