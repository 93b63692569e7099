#!/usr/bin/env bash
# Run under a display (xvfb-run): starts the real tenvarc on a sample file, waits for the
# window titled "Configure Tenvar" and photographs it, lets editor_screenshots photograph
# the instance and tunnel dialogs, then checks that all three pictures are there and big
# enough to hold their dialogs.
# Usage: screenshots.sh <tenvarc> <editor_screenshots> <output folder>
set -euo pipefail
tenvarc=$1 photographer=$2 out=$3

work=$(mktemp -d)
editor_pid=
cleanup() {
  [[ -n $editor_pid ]] && kill "$editor_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A pppd stand-in and two phonebook entries, so the dial-up fields are live.
mkdir "$work/peers"
touch "$work/peers/isp" "$work/peers/office-isdn"
printf '#!/bin/sh\nexit 0\n' >"$work/pppd"
chmod +x "$work/pppd"
cat >"$work/Tenvar.ini" <<'INI'
PhonebookEntry isp
Dial Yes
Timeout 10
Username office
Password secret
LogFile /opt/tenvar/Tenvar.log
FTPPort 1021
CacheDir /opt/tenvar/Cache
LimitCache Yes
CacheLimit 500
CacheExpiry 7
<HTTPProxy Office:8080>
  UseCache Yes
</HTTPProxy>
<HTTPProxy Lab:8081>
  UseUpstream Yes
  UpstreamProxyName squid.lan
  UpstreamProxyPort 3128
</HTTPProxy>
<IPTunnel>
  Listen 2525
  Server mail.example.com
  Port 25
</IPTunnel>
INI

TENVAR_PPPD="$work/pppd" TENVAR_PPP_PEERS="$work/peers" "$tenvarc" "$work/Tenvar.ini" &
editor_pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Configure Tenvar$' | head -1)
[[ -n $window ]] || { echo "no window titled Configure Tenvar" >&2; exit 1; }

# The window may be mapped before it is painted, or not yet viewable to import: photograph
# until the picture is not blank.
main="$out/tenvarc-main.png"
for _ in $(seq 200); do
  import -window "$window" "$main" 2>/dev/null || { sleep 0.05; continue; }
  [[ $(convert "$main" -format '%[fx:standard_deviation>0.05]' info:) == 1 ]] && break
done

kill "$editor_pid"
wait "$editor_pid" 2>/dev/null || true
editor_pid=

"$photographer" "$out"

check() {  # <file> <least width> <least height>
  [[ -s $1 ]] || { echo "missing $1" >&2; return 1; }
  read -r width height < <(identify -format '%w %h\n' "$1")
  if (( width < $2 || height < $3 )); then
    echo "$1 is ${width}x${height}, expected at least $2x$3" >&2
    return 1
  fi
  [[ $(convert "$1" -format '%[fx:standard_deviation>0.05]' info:) == 1 ]] ||
    { echo "$1 is blank" >&2; return 1; }
  echo "$1: ${width}x${height}"
}
check "$main" 600 400
check "$out/tenvarc-instance.png" 500 300
check "$out/tenvarc-tunnel.png" 300 100
