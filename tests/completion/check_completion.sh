#!/usr/bin/env bash
# Sources the bash completion of dorvane-cli and completes lines the way bash
# does (COMP_WORDS / COMP_CWORD set, the completion function called), against
# a dorvane-sim serving a few files:
#
#   check_completion.sh BIN_DIR COMPLETION_FILE
#
# BIN_DIR holds dorvane-cli and dorvane-sim (a build's bin/ or /usr/bin).
# Exit status 0 when every case holds; each failure is printed.
set -uo pipefail
bin=$(cd "$1" && pwd)
completion=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-completion.XXXXXX")
sim_pid=""
cleanup() {
    exec 3>&- 2>/dev/null || true
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

export PATH=$bin:$PATH
export XDG_CONFIG_HOME=$work/config HOME=$work/home LC_ALL=C.UTF-8
mkdir -p "$work/home" "$work/device" "$work/local/sub"
cd "$work/local" || exit 1
: >"$work/local/track.gpx"
: >"$work/local/tally.txt"
# Files on the handheld: plain names, one with a space, one that would run a
# command if the completion let the shell expand it, and a GBK name.
printf 'x' >"$work/device/T0601.gpx"
printf 'x' >"$work/device/T0602 copy.gpx"
printf 'x' >"$work/device/A0601.txt"
printf 'x' >"$work/device/\$(touch PWNED).txt"
printf 'x' >"$work/device/$(printf '\xb2\xe2\xca\xd4.gpx')"   # 测试.gpx in GBK

mkfifo "$work/sim-in"
"$bin/dorvane-sim" --link "$work/pty" --exit-on-stdin-eof "$work/device" <"$work/sim-in" >/dev/null 2>&1 &
sim_pid=$!
exec 3>"$work/sim-in"
for _ in $(seq 50); do [ -e "$work/pty" ] && break; sleep 0.1; done
[ -e "$work/pty" ] || { echo "check_completion: the emulator did not start"; exit 1; }

# shellcheck source=/dev/null
source "$completion" || { echo "check_completion: cannot source $completion"; exit 1; }
complete -p dorvane-cli >/dev/null 2>&1 || { echo "check_completion: no completion registered for dorvane-cli"; exit 1; }

failures=0
# complete_line WORD... : COMPREPLY for the line whose last word is being completed.
complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _dorvane_cli dorvane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
}
# expect "WANTED REPLIES (sorted, one a line)" WORD...
expect() {
    local want
    want=$(printf '%s\n' "$1" | LC_ALL=C sort | sed '/^$/d')
    shift
    complete_line "$@"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | sed '/^$/d')
    if [ "$got" != "$want" ]; then
        echo "FAIL: dorvane-cli ${*:2} <Tab>"
        echo "  want: $(echo "$want" | tr '\n' ' ')"
        echo "  got:  $(echo "$got" | tr '\n' ' ')"
        failures=$((failures + 1))
    fi
}
nl() { printf '%s\n' "$@"; }

port=$work/pty
# Commands and options.
expect "$(nl book convert export get info ls mv overlaps ports put report rm usb-devices)" dorvane-cli ""
expect "$(nl get)" dorvane-cli g
expect "$(nl put ports)" dorvane-cli --timeout 500 p
expect "$(nl --json)" dorvane-cli ls --j
expect "$(nl --json)" dorvane-cli info --j
expect "$(nl --accuracy)" dorvane-cli info --a
expect "$(nl --json)" dorvane-cli overlaps --j
expect "$(nl --keep-both)" dorvane-cli report --k
expect "$(nl --baud --help --model --no-search --port --timeout --usb --usb-id --version)" dorvane-cli get --
expect "$(nl --force --from)" dorvane-cli report -r --f
expect "$(nl gpkg geojson)" dorvane-cli export x.txt --to g
expect "$(nl auto auto-cm auto6 auto6-cm)" dorvane-cli export x.txt --crs a
expect "$(nl utf-8)" dorvane-cli export x.txt --to txt --encoding u
expect "" dorvane-cli report x --to 2
expect "$(nl none)" dorvane-cli report x --tiles ""
expect "$(nl tally.txt track.gpx)" dorvane-cli export x.txt --to kml -o t
expect "$(nl tally.txt track.gpx)" dorvane-cli report --from 2026-01-01 t
expect "$(nl --model)" dorvane-cli get --m
expect "$(nl --help)" dorvane-cli --h
expect "$(nl 115200)" dorvane-cli --baud ""
expect "$(nl 701)" dorvane-cli get x --model ""
# The season book: subcommands, their options and the words those take.
expect "$(nl add assign bill customer list overlaps pay pdf season send-to-office settings void)" dorvane-cli book ""
expect "$(nl --keep-both)" dorvane-cli book bill Wang --k
expect "$(nl --json)" dorvane-cli book overlaps --j
expect "$(nl pay pdf)" dorvane-cli book --book b.gpkg p
expect "$(nl --book)" dorvane-cli book --b
expect "$(nl add list set)" dorvane-cli book customer ""
expect "" dorvane-cli book customer add Wang ""
expect "$(nl --price-harvesting --price-other --price-ploughing --price-sowing --price-spraying --price-surveying)" \
    dorvane-cli book customer add Wang --price-
expect "$(nl --pdf --pictures)" dorvane-cli book bill Wang --jobs 1,2 --p
expect "$(nl --pdf --pictures)" dorvane-cli book pdf 2026-0001 --p
expect "$(nl --seller-address --seller-name --seller-phone)" dorvane-cli book settings --s
expect "$(nl wgs84)" dorvane-cli book settings --basis w
expect "$(nl ploughing)" dorvane-cli book add x.txt --work p
expect "$(nl billed)" dorvane-cli book list --status b
expect "$(nl mu)" dorvane-cli book assign 3 --unit m
expect "" dorvane-cli book bill --customer ""
expect "$(nl tally.txt track.gpx)" dorvane-cli book add t
expect "$(nl tally.txt track.gpx)" dorvane-cli book bill Wang --pdf t
expect "$(nl tally.txt track.gpx)" dorvane-cli book --book t
expect "" dorvane-cli book list ""
[ -e "$work/local/b.gpkg" ] && { echo "FAIL: completing made a book"; failures=$((failures + 1)); }
# Local files and folders.
expect "$(nl tally.txt track.gpx)" dorvane-cli put t
expect "$(nl sub)" dorvane-cli get T0601.gpx -C s
expect "$(nl sub)" dorvane-cli --usb ""
# The handheld's names, quoted, never expanded.
expect "$(nl '\$\(touch\ PWNED\).txt' 'A0601.txt' 'T0601.gpx' 'T0602\ copy.gpx' '测试.gpx')" dorvane-cli --port "$port" get ""
expect "$(nl 'T0601.gpx' 'T0602\ copy.gpx')" dorvane-cli --port "$port" get T0
expect "$(nl 'A0601.txt')" dorvane-cli --port "$port" rm T0601.gpx A
expect "$(nl '测试.gpx')" dorvane-cli mv --port "$port" 测
[ -e "$work/local/PWNED" ] && { echo "FAIL: a handheld name was run as a command"; failures=$((failures + 1)); }
# No port given and none remembered: no listing, no wait. The runs above,
# whose --port was for that run only, still saved the default settings.
rm -f "$XDG_CONFIG_HOME/dorvane/Dorvane.cfg"
# ms since an earlier $EPOCHREALTIME (whole seconds would turn 0.1 s into 1).
elapsed_ms() { local now=$EPOCHREALTIME; echo $(( (${now/./} - ${1/./}) / 1000 )); }
start=$EPOCHREALTIME
expect "" dorvane-cli get T
[ "$(elapsed_ms "$start")" -le 1000 ] || { echo "FAIL: completing without a port waited"; failures=$((failures + 1)); }
# A port that does not answer: nothing, within the completion's bound.
start=$EPOCHREALTIME
expect "" dorvane-cli --port "$work/no-such-port" get T
[ "$(elapsed_ms "$start")" -le 5000 ] || { echo "FAIL: a silent port held the completion"; failures=$((failures + 1)); }
# (A remembered port cannot be a pty: the programs replace a remembered port
# that is not among the machine's ports, which always hold the default one,
# by the first at start. The settings are tested with the document.)
# The listing is kept a few seconds: a second Tab does not ask the handheld again.
expect "$(nl 'T0601.gpx' 'T0602\ copy.gpx')" dorvane-cli --port "$port" get T0
rm -f "$work/device/T0601.gpx"
expect "$(nl 'T0601.gpx' 'T0602\ copy.gpx')" dorvane-cli --port "$port" get T0

if [ "$failures" -ne 0 ]; then
    echo "check_completion: $failures failure(s)"
    exit 1
fi
echo "check_completion: all cases hold"
