#!/usr/bin/env bash
# FFmpeg's and poppler's libraries are loaded by the modules alone: the programs do not need
# them, the speech library refers to nothing of theirs, and each module does need its own.
#
#   check_module_libraries.sh SPEECH_LIBRARY MP4_MODULE PDF_MODULE PROGRAM...
set -euo pipefail

speech=$1 mp4=$2 pdf=$3
shift 3
module_libraries='^lib(poppler|avcodec|avformat|avutil|swresample)'
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
needed() { readelf -dW "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }

for program in "$@"; do
    found=$(needed "$program" | grep -E "$module_libraries" | paste -sd ' ' || true)
    [ -z "$found" ] || fail "$(basename "$program") needs $found"
done
referred=$(nm -C --undefined-only "$speech" | sed 's/^ *U //' | grep -E '^(poppler|av[a-z]*_)' | sort -u | head -3 |
    paste -sd ' ' || true)
[ -z "$referred" ] || fail "$(basename "$speech") refers to $referred"
needed "$mp4" | grep -qE '^libavformat' || fail "$(basename "$mp4") does not need libavformat"
needed "$pdf" | grep -qE '^libpoppler-cpp' || fail "$(basename "$pdf") does not need libpoppler-cpp"

[ "$failures" -eq 0 ] && echo "ok: poppler and FFmpeg are loaded by their modules alone"
exit $((failures != 0))
