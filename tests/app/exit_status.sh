#!/usr/bin/env bash
# Status 255 when the main document fails to load; a settings file that cannot be parsed
# is kept aside untouched and a new one holds the list.  usage: exit_status.sh QUILLFEN QUILLFEN_BROKEN
set -u
tmp=$(mktemp -d) pid=
trap '[ -n "$pid" ] && kill $pid; rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME=$tmp XDG_RUNTIME_DIR=$tmp QT_QPA_PLATFORM=offscreen
fail() { echo "FAIL: $*"; exit 1; }

timeout 120 "$2" >"$tmp/broken.log" 2>&1; rc=$?
[ $rc -eq 255 ] && grep -q main.qml "$tmp/broken.log" || fail "broken main document: status $rc; $(cat "$tmp/broken.log")"

conf=$tmp/Quillfen/Quillfen.conf
mkdir "$tmp/Quillfen" && printf '[ProxyConfig\nsavedProxies=[]\n' >"$conf"
"$1" >"$tmp/app.log" 2>&1 & pid=$!
for _ in $(seq 600); do [ "$(head -n1 "$conf")" = "[ProxyConfig]" ] && break; sleep 0.1; done 2>/dev/null
[ "$(cat "$conf".unreadable-*)" = "$(printf '[ProxyConfig\nsavedProxies=[]')" ] || fail "the unreadable file was not kept"
[ "$(head -n1 "$conf")" = "[ProxyConfig]" ] && grep -q '^savedProxies=' "$conf" || fail "new store: $(cat "$conf")"
echo PASS
