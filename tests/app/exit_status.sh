#!/usr/bin/env bash
# Exit status of the executable: 0 once its window is closed, -1 (255) when its main
# document fails to load.   usage: exit_status.sh QUILLFEN QUILLFEN_BROKEN XCLOSE_PY
set -u
app=$1 broken=$2 xclose=$3
tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
passed=0
fail() { echo "FAIL: $*"; echo "$passed passed, 1 failed"; exit 1; }

# A main document that does not compile: -1, after the engine's messages.
QT_QPA_PLATFORM=offscreen timeout 120 "$broken" >"$tmp/broken.log" 2>&1
rc=$?
cat "$tmp/broken.log"
[ "$rc" -eq 255 ] || fail "broken main document: exit status $rc, expected 255"
grep -q 'main.qml' "$tmp/broken.log" || fail "broken main document: no message about main.qml"
echo "PASS: broken main document ends with 255"
passed=$((passed + 1))

# The real program in a real X window, closed as a window manager would close it.
# It starts on a settings file the settings layer cannot parse: that file is
# kept aside untouched, and the new one holds the list under its own group.
mkdir -p "$XDG_CONFIG_HOME/Quillfen"
printf '[ProxyConfig\nsavedProxies=[]\n' >"$XDG_CONFIG_HOME/Quillfen/Quillfen.conf"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
for _ in $(seq 300); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=:$(head -n1 "$tmp/display")
QT_QPA_PLATFORM=xcb "$app" >"$tmp/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
win=$(timeout 120 xdotool search --sync --onlyvisible --name '^Quillfen$' | head -n1)
[ -n "$win" ] || fail "no window titled Quillfen: $(cat "$tmp/app.log")"
python3 "$xclose" "$win" || fail "could not send the close request"
for _ in $(seq 600); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "still running 60 s after its window was closed"
wait "$app_pid"
rc=$?
cat "$tmp/app.log"
[ "$rc" -eq 0 ] || fail "closed window: exit status $rc, expected 0"
echo "PASS: closing the window ends with 0"
passed=$((passed + 1))

aside=$(ls "$XDG_CONFIG_HOME"/Quillfen/Quillfen.conf.unreadable-* 2>/dev/null | head -n1)
[ -n "$aside" ] || fail "the unreadable settings file was not kept aside"
[ "$(cat "$aside")" = "$(printf '[ProxyConfig\nsavedProxies=[]')" ] || fail "the kept file changed"
grep -q '^\[ProxyConfig\]$' "$XDG_CONFIG_HOME/Quillfen/Quillfen.conf" &&
    grep -q '^savedProxies=' "$XDG_CONFIG_HOME/Quillfen/Quillfen.conf" ||
    fail "the new settings file has no list under ProxyConfig: $(cat "$XDG_CONFIG_HOME/Quillfen/Quillfen.conf")"
echo "PASS: an unreadable settings file is kept aside and the list saved under ProxyConfig"
passed=$((passed + 1))
echo "$passed passed, 0 failed"
