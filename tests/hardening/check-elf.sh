#!/usr/bin/env bash
# Reads the ELF of built programs and fails unless each carries the hardening that the
# package promises: a position-independent executable, full RELRO with immediate binding,
# the stack protector and, where the build optimizes, fortified libc calls.
#
#   check-elf.sh [--no-fortify] PROGRAM...
set -euo pipefail

fortify=1
if [ "${1:-}" = --no-fortify ]; then
    fortify=0
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--no-fortify] PROGRAM..." >&2
    exit 2
fi

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for program in "$@"; do
    name=$(basename "$program")
    before=$failures
    checked=""
    header=$(readelf -hW "$program")
    dynamic=$(readelf -dW "$program")
    segments=$(readelf -lW "$program")
    imports=$(readelf --dyn-syms -W "$program" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')

    grep -qE '^ *Type: +DYN ' <<< "$header" || fail "$name is not position-independent (ELF type)"
    grep -qE '\(FLAGS_1\) .*\bPIE\b' <<< "$dynamic" || fail "$name lacks the PIE flag"
    grep -qE '^ *GNU_RELRO ' <<< "$segments" || fail "$name has no RELRO segment"
    grep -qE '\(BIND_NOW\)|\(FLAGS\) .*\bBIND_NOW\b|\(FLAGS_1\) .*\bNOW\b' <<< "$dynamic" ||
        fail "$name does not bind immediately (-z now)"
    grep -qx '__stack_chk_fail' <<< "$imports" || fail "$name has no stack protector"
    if [ "$fortify" = 1 ]; then
        checked=$(grep -xE '__[a-z0-9_]+_chk' <<< "$imports" | grep -vx '__stack_chk_fail' |
            paste -sd ' ' || true)
        [ -n "$checked" ] || fail "$name calls no fortified libc function"
    fi
    if [ "$failures" -eq "$before" ]; then
        echo "ok: $name: PIE, RELRO, BIND_NOW, stack protector${checked:+, fortified: $checked}"
    fi
done

exit $((failures != 0))
