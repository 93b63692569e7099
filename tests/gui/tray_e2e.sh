#!/usr/bin/env bash
# The tray on a real X server with a real system-tray host: tenvar (not headless) puts its
# icon into trayer's panel, a right click opens the menu, "View details..." opens the details
# window, and Exit ends the program with status 0. Screenshots of the menu and the details
# window go to the screenshot folder and are checked for presence and size. "View log..."
# opens and closes the console; a missing configuration file is a message box; without a tray
# host the program runs headless and says why in its log.
#
# With dial on demand on a stand-in pppd, "Connect" opens the dialling status window, whose
# Cancel (Esc) hangs up.
#
# Usage: tray_e2e.sh <tenvar binary> <fake pppd> <screenshot folder>. Run it inside a network
# namespace of its own (tests/e2e/netns-run): tenvar listens on fixed ports.
set -euo pipefail
[[ -n ${TRAY_E2E_TRACE:-} ]] && set -x

tenvar=$1
fake_pppd=$2
shots=$3
mkdir -p "$shots"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "tray_e2e: $*" >&2
  local file
  for file in "$work"/*.log "$work"/*.out; do
    [[ -f $file ]] && sed "s|^|  $(basename "$file"): |" "$file" >&2
  done
  exit 1
}

# Polls a condition (a command, run afresh each time) a bounded number of times: every 0.1 s,
# 20 s in all.
wait_for() {
  local what=$1
  shift
  for _ in $(seq 200); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

# Xvfb picks a free display number itself and tells us through a pipe, so parallel runs and
# other users' displays never clash.
exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for "the X server" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# Writes a configuration whose event log is $work/<name>.log; $2 is Yes for dial on demand.
write_config() {
  cat >"$work/$1.ini" <<INI
Dial ${2:-No}
PhonebookEntry provider
Timeout 5
FTPPort 0
CacheDir $work/cache
LogFile $work/$1.log
<HTTPProxy Office:8080>
  UseCache Yes
  EnableLogging Yes
</HTTPProxy>
INI
}
mkdir -p "$work/cache"

# Ended means gone or a zombie waiting for us; `wait` itself could not be bounded.
ended() { ! grep -qE '^State:\s+[^Z]' "/proc/$tenvar_pid/status" 2>/dev/null; }

# A display without a tray host: the services run headless, the log says why, and SIGTERM
# ends the program with status 0.
write_config NoTray
"$tenvar" "$work/NoTray.ini" >"$work/no-tray.out" 2>&1 &
tenvar_pid=$!
pids+=($tenvar_pid)
said_no_tray() {
  grep -q 'No tray icon: the desktop has no system tray' "$work/NoTray.log" 2>/dev/null
}
wait_for "the no-tray line in the log" said_no_tray
kill -TERM "$tenvar_pid"
wait_for "tenvar without a tray to end" ended
status=0
wait "$tenvar_pid" || status=$?
[[ $status -eq 0 ]] || fail "tenvar without a tray ended with status $status"

trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
  --transparent false >"$work/trayer.log" 2>&1 &
pids+=($!)
panel_id() { xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}'; }
have_panel() { [[ -n $(panel_id) ]]; }
wait_for "the tray panel" have_panel

# The stand-in dialler holds its dial half-way until told, so the dial stays in progress.
mkdir -p "$work/peers"
: >"$work/peers/provider"
mkfifo "$work/hold"
write_config Tenvar Yes
TENVAR_PPPD=$fake_pppd TENVAR_PPP_PEERS=$work/peers FAKE_PPPD_LOG=$work/pppd.log \
  FAKE_PPPD_HOLD=$work/hold "$tenvar" "$work/Tenvar.ini" >"$work/tenvar.out" 2>&1 &
tenvar_pid=$!
pids+=($tenvar_pid)

# The icon is a window of tenvar's embedded in the panel: "+x+y" is its place on screen.
icon_line() { xwininfo -id "$(panel_id)" -tree | grep '("tenvar" "tenvar")' | head -n1; }
have_icon() { [[ -n $(icon_line) ]]; }
wait_for "the tray icon in the panel" have_icon
grep -q 'No tray icon' "$work/Tenvar.log" 2>/dev/null && fail "tenvar says it shows no icon"
read -r icon_x icon_y < <(icon_line | sed -E 's/.* \+(-?[0-9]+)\+(-?[0-9]+)$/\1 \2/')
read -r icon_w icon_h < <(icon_line | sed -E 's/.* ([0-9]+)x([0-9]+)\+.*/\1 \2/')
(( icon_w > 0 && icon_h > 0 )) || fail "icon has no size: $(icon_line)"

# A shown top-level window of tenvar, by name: "<id> <width> <height> <x> <y>".
top_window() {
  local id
  xwininfo -root -children | grep -iF "\"$1\": (\"tenvar\" \"tenvar\")" |
    sed -E 's/^ *(0x[0-9a-f]+) .* ([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+) .*/\1 \2 \3 \4 \5/' |
    while read -r id rest; do
      if xwininfo -id "$id" | grep -q 'IsViewable'; then
        echo "$id $rest"
        break
      fi
    done
}
have_window() { [[ -n $(top_window "$1") ]]; }
no_window() { [[ -z $(top_window "$1") ]]; }

menu_shown() {
  for _ in $(seq 20); do
    have_window tenvar && return 0
    sleep 0.1
  done
  return 1
}

open_menu() {
  # The previous menu must be gone first, or the click would only close it. A click that
  # lands while Qt is still busy closing is lost, so it is tried again, a bounded number of
  # times. The splash may still be up; it never covers the panel.
  wait_for "the previous menu to close" no_window tenvar
  for _ in $(seq 5); do
    xdotool mousemove $((icon_x + icon_w / 2)) $((icon_y + icon_h / 2)) click 3
    if menu_shown; then
      read -r menu_id menu_w menu_h menu_x menu_y < <(top_window tenvar)
      return 0
    fi
  done
  fail "no tray menu after five right clicks"
}

# Screenshots window $1 into $2; true once the window is painted (more than four colours).
painted() { import -window "$1" "$2" 2>/dev/null && (( $(identify -format '%k' "$2") > 4 )); }

# Checks a screenshot: present, of the window's size, and not one flat colour.
check_shot() {
  local file=$1 width=$2 height=$3 size colours
  [[ -s $file ]] || fail "no screenshot $file"
  size=$(identify -format '%w %h' "$file")
  [[ $size == "$width $height" ]] || fail "$file is $size, the window $width $height"
  colours=$(identify -format '%k' "$file")
  (( colours > 4 )) || fail "$file has only $colours colours"
}

open_menu
(( menu_w >= 100 && menu_h >= 100 )) || fail "menu is only ${menu_w}x${menu_h}"
import -window "$menu_id" "$shots/menu.png"
check_shot "$shots/menu.png" "$menu_w" "$menu_h"

# Seven entries and two separators from top to bottom: the first is "View details...".
xdotool mousemove $((menu_x + menu_w / 2)) $((menu_y + 10)) click 1
wait_for "the details window" have_window 'Tenvar details'
read -r details_id details_w details_h _ _ < <(top_window 'Tenvar details')
(( details_w >= 250 && details_h >= 250 )) || fail "details window is only ${details_w}x${details_h}"
# Its fields are filled at once; the window itself may paint a moment later.
wait_for "the details window to be painted" painted "$details_id" "$shots/details.png"
check_shot "$shots/details.png" "$details_w" "$details_h"

# "View log..." by its key opens the console, and again closes it.
open_menu
xdotool windowfocus "$menu_id" key v
wait_for "the log console" have_window 'Tenvar log'
read -r console_id console_w console_h _ _ < <(top_window 'Tenvar log')
# Connect: the dial's log lines reach the open console, and the dialling window opens.
open_menu
xdotool windowfocus "$menu_id" key c
wait_for "the dialling status window" have_window 'Tenvar connection status'
read -r dial_id dial_w dial_h _ _ < <(top_window 'Tenvar connection status')
wait_for "the dialling status window to be painted" painted "$dial_id" "$shots/dialling.png"
check_shot "$shots/dialling.png" "$dial_w" "$dial_h"
wait_for "log lines in the console" painted "$console_id" "$shots/console.png"
check_shot "$shots/console.png" "$console_w" "$console_h"
grep -q 'Connecting to Internet, using provider' "$work/Tenvar.log" || fail "no dial in the log"
# Esc is Cancel: the window goes and the dialler is hung up.
xdotool windowfocus "$dial_id" key Escape
wait_for "the dialling status window to close" no_window 'Tenvar connection status'
hung_up() { grep -q terminated "$work/pppd.log" 2>/dev/null; }
wait_for "the dialler to be hung up" hung_up
grep -q 'Disconnecting from Internet' "$work/Tenvar.log" || fail "no hang-up in the log"
open_menu
xdotool windowfocus "$menu_id" key v
wait_for "the log console to close" no_window 'Tenvar log'

open_menu
# The last entry is "Exit".
xdotool mousemove $((menu_x + menu_w / 2)) $((menu_y + menu_h - 10)) click 1
wait_for "tenvar to end" ended
status=0
wait "$tenvar_pid" || status=$?
[[ $status -eq 0 ]] || fail "tenvar ended with status $status"
# A missing configuration file: the message box, and after OK the program ends with status 1
# without having shown an icon.
"$tenvar" "$work/missing/Tenvar.ini" >"$work/missing.out" 2>&1 &
tenvar_pid=$!
pids+=($tenvar_pid)
wait_for "the missing-file message" have_window 'Initialisation error'
read -r box_id box_w box_h _ _ < <(top_window 'Initialisation error')
import -window "$box_id" "$shots/missing-configuration.png"
check_shot "$shots/missing-configuration.png" "$box_w" "$box_h"
[[ -z $(icon_line) ]] || fail "an icon is shown although the program did not start"
xdotool windowfocus "$box_id" key Return
wait_for "tenvar to end after the message" ended
status=0
wait "$tenvar_pid" || status=$?
[[ $status -eq 1 ]] || fail "tenvar without its configuration ended with status $status"

echo "tray_e2e: icon ${icon_w}x${icon_h}, menu ${menu_w}x${menu_h}, details ${details_w}x${details_h}; exit 0"
