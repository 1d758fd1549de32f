#!/usr/bin/env bash
# A second start of the desktop program, while another copy holds the
# single-instance lock: without a file it ends at once and silently; with a
# file and nobody to take it (the holder here is flock, not a Dorvane) it says
# so in the user's language and ends with status 1, without waiting long.
#
#   check_second_start.sh BIN_DIR
set -uo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-second.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen
lock="$work/47A166DA-BF64-4D9B-A14D-43647637E4A0.lock"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

exec 9>"$lock"
flock -n 9 || { echo "FAIL: could not take the lock"; exit 1; }

start=$EPOCHREALTIME
timeout 20 "$bin/dorvane" >"$work/out" 2>"$work/err"
rc=$?
[ "$rc" = 0 ] || fail "without a file: status $rc"
[ -s "$work/out" ] || [ -s "$work/err" ] && fail "without a file it wrote: $(cat "$work/out" "$work/err")"

for case in "LANG=en_US.UTF-8|-Code_Eng|already running" "LANG=zh_CN.UTF-8|-Code_Chi|已在运行"; do
    IFS='|' read -r env option want <<<"$case"
    start=$EPOCHREALTIME
    env "$env" timeout 20 "$bin/dorvane" "$option" "north field.gpx" >"$work/out" 2>"$work/err"
    rc=$?
    ms=$(( (${EPOCHREALTIME/./} - ${start/./}) / 1000 ))
    [ "$rc" = 1 ] || fail "$option with a file: status $rc, wanted 1"
    grep -q "$want" "$work/err" || fail "$option: no '$want' in: $(cat "$work/err")"
    grep -q "$work/north field.gpx\|north field.gpx" "$work/err" || fail "$option: the file is not named: $(cat "$work/err")"
    [ "$ms" -lt 6000 ] || fail "$option: took $ms ms"
done

[ "$failures" = 0 ] && echo "ok: second starts" || exit 1
