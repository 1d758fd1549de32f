#!/usr/bin/env bash
# Every program of the build answers --help and --version on standard output
# with exit status 0 and does nothing else (no window, no display needed, no
# folder named "--help"); each option that a man page'd program's --help
# names is in its man page.
#
#   check_programs.sh BIN_DIR MAN_DIR VERSION
set -uo pipefail
bin=$(cd "$1" && pwd)
man=$(cd "$2" && pwd)
version=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-programs.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export HOME=$work XDG_CONFIG_HOME=$work/config LC_ALL=C
# No display at all: the desktop program must not need one for these.
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every program in the build's bin/ but the test programs (GoogleTest and Qt
# Test have --help of their own): a helper added later is checked too.
programs=()
for p in "$bin"/*; do
    [ -f "$p" ] && [ -x "$p" ] || continue
    case $(basename "$p") in test_*) continue ;; esac
    programs+=("$(basename "$p")")
done
[ "${#programs[@]}" -ge 3 ] || fail "found only ${programs[*]} in $bin"

for p in "${programs[@]}"; do
    for opt in --help --version; do
        out=$(timeout 20 "$bin/$p" "$opt" 2>"$work/err")
        rc=$?
        [ "$rc" = 0 ] || fail "$p $opt: exit status $rc ($(head -c 300 "$work/err"))"
        [ -n "$out" ] || fail "$p $opt: nothing on standard output"
        [ -s "$work/err" ] && fail "$p $opt wrote on standard error: $(head -c 300 "$work/err")"
        if [ "$opt" = --version ]; then
            case $p in replay_*) want="replay $version" ;; *) want="$p $version" ;; esac
            [ "$out" = "$want" ] || fail "$p --version printed '$out', not '$want'"
        fi
    done
    [ -e "$work/--help" ] && { fail "$p --help created a file named --help"; rm -rf -- "$work/--help"; }
    [ -e "$work/config" ] && { fail "$p wrote settings for --help/--version"; rm -rf "$work/config"; }
done

# Each long option of --help is in the program's man page.
for p in dorvane dorvane-cli dorvane-sim; do
    [ -x "$bin/$p" ] || continue
    page=$man/$p.1
    [ -f "$page" ] || { fail "no man page $page"; continue; }
    text=$(MANWIDTH=200 man -l -Tutf8 "$page" 2>"$work/man-err" | col -b)
    [ -s "$work/man-err" ] && fail "man $p: $(cat "$work/man-err")"
    for o in $("$bin/$p" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$o" <<<"$text" || fail "$p --help names $o, its man page does not"
    done
    grep -q "EXIT STATUS" <<<"$text" || fail "man $p has no EXIT STATUS"
done

if [ "$failures" -ne 0 ]; then
    echo "check_programs: $failures failure(s)"
    exit 1
fi
echo "check_programs: ${#programs[@]} programs checked"
