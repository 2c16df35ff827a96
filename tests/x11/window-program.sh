#!/usr/bin/env bash
# Runs the built window program in a private X server and uses it as a person would: the
# keyboard for the Save dialog and the notice (xdotool), a triple click to select a message
# box's text, which X then hands out as the primary selection (xclip).
#
#   window-program.sh PROGRAM CASE
#
# CASE is refusal, cancel, conversion or escape, or stop-STATE-SIGNAL: SIGNAL (INT, TERM or
# HUP) sent while the program waits in STATE (save-dialog, replace, refusal, notice, created,
# failure). Every wait polls against a deadline
# (KESTROVA_X11_TIMEOUT seconds, default 120), so a loaded machine is slow, not flaky.
# KESTROVA_X11_SCREENSHOT=FILE saves the screen while the notice is up (escape case).
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 PROGRAM refusal|cancel|conversion|escape|stop-STATE-SIGNAL" >&2
    exit 2
fi
program=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
launcher=() # what runs the program, if not the program itself
case_name=$2
timeout_seconds=${KESTROVA_X11_TIMEOUT:-120}

readonly noticeTitle="Convert a Text File into a WAV Audio File"
readonly applicationTitle="Kestrova WAV Converter"
readonly refusalText="This program cannot be run outside of the main Kestrova Text-to-Speech Reader application"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-x11.XXXXXX")
work=$scratch/work
mkdir -p "$work" "$scratch/config"
mkdir -m 700 "$scratch/runtime"
xvfb_pid=""
bus_pid=""
watcher_pid=""

cleanup() {
    if [ -s "$scratch/pid" ] && [ ! -e "$scratch/status" ]; then
        kill "$(cat "$scratch/pid")" 2>/dev/null || true
    fi
    [ -z "$watcher_pid" ] || kill "$watcher_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($case_name): $*" >&2
    echo "windows up: $(visible_window_names | paste -sd '|'); focus on:" \
        "$(xdotool getwindowfocus getwindowname 2>/dev/null || echo nothing);" \
        "status: $(cat "$scratch/status" 2>/dev/null || echo "still running")" >&2
    if [ -s "$scratch/xvfb.log" ]; then
        echo "--- Xvfb's output:" >&2
        cat "$scratch/xvfb.log" >&2
    fi
    if [ -s "$scratch/out.log" ]; then
        echo "--- the program's output:" >&2
        cat "$scratch/out.log" >&2
    fi
    exit 1
}

# wait_for DESCRIPTION COMMAND...: polls COMMAND until it succeeds or the deadline passes.
wait_for() {
    local what=$1
    shift
    local deadline=$((SECONDS + timeout_seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what within $timeout_seconds s"
        sleep 0.1
    done
}

visible_window() {
    xdotool search --onlyvisible --name "^$1\$" > /dev/null 2>&1
}
focused_window_is() {
    [ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" = "$1" ]
}
visible_window_names() {
    local window
    for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        xdotool getwindowname "$window" 2>/dev/null || true
    done | sort -u
}
program_ended() {
    [ -s "$scratch/status" ]
}

# A message box's text: a triple click selects its paragraph, and X hands the selection
# out as PRIMARY. Retried, since a loaded machine may stretch the clicks apart.
message_text() {
    local window text attempt
    window=$(xdotool search --onlyvisible --name "^$1\$" | head -n1)
    eval "$(xdotool getwindowgeometry --shell "$window")"
    for attempt in 1 2 3 4 5; do
        # The label sits at the box's top left, beside where an icon would be.
        xdotool mousemove "$((X + 40))" "$((Y + 18))" click --repeat 3 --delay 40 1
        sleep 0.3
        text=$(xclip -o -selection primary 2>/dev/null || true)
        [ -n "$text" ] && break
    done
    printf '%s' "$text"
}

# The program, started with the given words as its arguments, from the work folder; its
# exit status lands in $scratch/status. Qt finds the X server by DISPLAY alone.
start_program() {
    (
        cd "$work"
        env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$scratch/config" \
            XDG_RUNTIME_DIR="$scratch/runtime" "$run_marker" \
            "${launcher[@]}" "$program" "$@" > "$scratch/out.log" 2>&1 &
        echo $! > "$scratch/pid"
        status=0
        wait $! || status=$?
        echo "$status" > "$scratch/status.new"
        mv "$scratch/status.new" "$scratch/status"
    ) &
    # Every window the program shows, by title, for as long as it runs; appended as seen,
    # so a case can wait until a window is on record before it closes it.
    : > "$scratch/seen.log"
    (
        while ! program_ended; do
            visible_window_names >> "$scratch/seen.log"
            sleep 0.05
        done
        sort -u "$scratch/seen.log" > "$scratch/seen.new"
        mv "$scratch/seen.new" "$scratch/seen"
    ) &
    watcher_pid=$!
}

# The watch polls apart from the case's own waits: a window the case saw and closes at
# once may never have been on the watch's record.
watch_recorded() {
    grep -qxF "$1" "$scratch/seen.log" 2>/dev/null
}
close_when_recorded() {
    wait_for "record of the \"$1\" window" watch_recorded "$1"
}

finish_program() {
    wait_for "end of the program" program_ended
    wait_for "end of the window watch" test -e "$scratch/seen"
    status=$(cat "$scratch/status")
    seen=$(paste -sd '|' "$scratch/seen")
}

files_in_work() {
    (cd "$work" && ls -A | paste -sd ' ')
}

# Every process of a run carries this in its environment, the program's workers too.
run_marker="KESTROVA_X11_RUN=$scratch"
no_process_of_the_run() {
    ! grep -qslzxF "$run_marker" /proc/[0-9]*/environ
}

# stop_program SIGNAL: the signal (INT, TERM or HUP) to the program, which must end at once with
# 128 + the signal and leave no process behind.
stop_program() {
    kill -s "$1" "$(cat "$scratch/pid")"
    finish_program
    local expected=$((128 + $(kill -l "$1")))
    [ "$status" = "$expected" ] || fail "status $status after SIG$1, not $expected"
    wait_for "end of every process of the run" no_process_of_the_run
}

visible_windows_named() {
    xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | wc -l
}
replace_question_up() {
    # Qt's question is titled as the Save dialog it sits on.
    [ "$(visible_windows_named "Save As")" = 2 ]
}

# The state a stop case sends its signal in, reached as a user would; leaves in $expected_files
# what the work folder must then hold.
reach_state() {
    printf 'Keep me, I am the only copy.\n' > "$work/t.txt"
    expected_files="t.txt"
    case $1 in
    notice)
        # Written under a hidden temporary name, which only a rendering stopped before the
        # program ends removes; an unnamed file would vanish whatever ended it.
        launcher=(python3 "$here/without-unnamed-files.py")
        start_program eSpeak NG English "(America)%$work/t.txt"
        ;;
    save-dialog | replace | created)
        start_program eSpeak NG English "(America)%$work/t.txt"
        ;;
    failure)
        start_program "No Such Voice%$work/t.txt"
        ;;
    refusal)
        start_program
        wait_for "\"Error\" message box" visible_window Error
        close_when_recorded Error
        return
        ;;
    *)
        echo "unknown state $1" >&2
        exit 2
        ;;
    esac
    wait_for "focused Save dialog" focused_window_is "Save As"
    close_when_recorded "Save As"
    case $1 in
    save-dialog)
        return
        ;;
    replace)
        printf 'an older file' > "$work/old.wav"
        expected_files="old.wav t.txt"
        xdotool type --delay 15 "old.wav"
        xdotool key Return
        wait_for "replace question" replace_question_up
        return
        ;;
    notice)
        # Long enough to be still rendering when the signal comes.
        for i in $(seq 3000); do
            printf 'Sentence number %d keeps the speech engine busy for a little while. ' "$i"
        done > "$work/t.txt"
        ;;
    created)
        printf 'The wave file is complete before the question.\n' > "$work/t.txt"
        expected_files="spoken.wav t.txt"
        ;;
    esac
    xdotool type --delay 15 "spoken.wav"
    xdotool key Return
    case $1 in
    notice)
        wait_for "focused notice" focused_window_is "$noticeTitle"
        close_when_recorded "$noticeTitle"
        ;;
    created | failure)
        wait_for "\"$applicationTitle\" message box" visible_window "$applicationTitle"
        close_when_recorded "$applicationTitle"
        ;;
    esac
}

# --- A private X server on a display of its own, its number written when it is ready. Each
# try names a display: a server that cannot have it (another holds its socket) ends at once
# without writing, and the next number is tried. Tests run side by side start at numbers
# spread by their process ids, so they seldom meet. ---
# -noreset: by default the server resets when its last client leaves, and refuses new
# clients meanwhile, so the program could miss it just after xdpyinfo's visit.
x_server_ready_or_gone() {
    [ -s "$scratch/display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null
}
first_display=$((100 + $$ % 800))
for display_number in $(seq "$first_display" $((first_display + 40))); do
    : > "$scratch/display"
    Xvfb ":$display_number" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3> "$scratch/display" 2> "$scratch/xvfb.log" &
    xvfb_pid=$!
    wait_for "X server (Xvfb) on :$display_number" x_server_ready_or_gone
    [ -s "$scratch/display" ] && break
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
done
[ -n "$xvfb_pid" ] || fail "no free display from :$first_display on"
export DISPLAY=":$(head -n1 "$scratch/display")"
x_server_answers() {
    xdpyinfo > /dev/null 2>&1
}
wait_for "answer from the X server on $DISPLAY" x_server_answers

# --- A session bus of the run's own. Without one, Qt's accessibility bridge asks libdbus for
# the session bus, and where dbus-x11 is installed libdbus autolaunches a dbus-daemon that
# outlives the program (and carries the run's environment). Started before the program, it
# carries none of the run's marker; it ends with the script. ---
dbus-daemon --session --fork --print-address=4 --print-pid=5 4> "$scratch/bus.address" \
    5> "$scratch/bus.pid"
bus_pid=$(cat "$scratch/bus.pid")
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$scratch/bus.address")
[ -n "$DBUS_SESSION_BUS_ADDRESS" ] || fail "no session bus"

case $case_name in
refusal)
    # No "%": refused. Qt options among the words are the hand-off's, not Qt's: with
    # -platform taken by Qt the box would never reach this X server.
    start_program -platform offscreen -style windows
    wait_for "\"Error\" message box" visible_window Error
    [ "$(visible_window_names)" = Error ] || fail "windows besides the box: $(visible_window_names)"
    text=$(message_text Error)
    [ "$text" = "$refusalText" ] || fail "the box says \"$text\""
    close_when_recorded Error
    xdotool key Return
    finish_program
    [ "$status" = 2 ] || fail "status $status, not 2"
    [ "$seen" = Error ] || fail "windows seen: $seen"
    ;;
cancel)
    printf 'Keep me.\n' > "$work/t.txt"
    start_program -platform offscreen -style windows % "$work/t.txt"
    wait_for "focused Save dialog" focused_window_is "Save As"
    close_when_recorded "Save As"
    xdotool key Escape
    finish_program
    [ "$status" = 0 ] || fail "status $status, not 0"
    [ "$seen" = "Save As" ] || fail "windows seen: $seen"
    [ "$(cat "$work/t.txt")" = "Keep me." ] || fail "the text file changed"
    [ "$(files_in_work)" = t.txt ] || fail "files left: $(files_in_work)"
    ;;
conversion)
    printf 'The real program speaks. It writes a wave file.\n' > "$work/t.txt"
    # Separate words, joined by the program into "eSpeak NG English (America)%<path>".
    # Another Qt program's dialog was last in another folder: the program reads no settings,
    # so its dialog opens in its own folder, and it writes none either.
    mkdir "$scratch/elsewhere"
    printf '[FileDialog]\nhistory=file://%s\nlastVisited=file://%s\n' \
        "$scratch/elsewhere" "$scratch/elsewhere" > "$scratch/config/QtProject.conf"
    settings=$(md5sum < "$scratch/config/QtProject.conf")
    start_program eSpeak NG English "(America)%$work/t.txt"
    wait_for "focused Save dialog" focused_window_is "Save As"
    # A name without an ending is used exactly as typed.
    xdotool type --delay 15 "spoken"
    xdotool key Return
    wait_for "\"Wave file created.\" box" visible_window "$applicationTitle"
    visible_window "$noticeTitle" || fail "the notice is not up behind the message"
    [ -f "$work/t.txt" ] || fail "the text file is gone before OK"
    text=$(message_text "$applicationTitle")
    [ "$text" = "Wave file created." ] || fail "the box says \"$text\""
    close_when_recorded "$noticeTitle"
    xdotool key Return
    finish_program
    [ "$status" = 0 ] || fail "status $status, not 0"
    [[ "|$seen|" == *"|$noticeTitle|"* ]] || fail "the notice was never seen: $seen"
    [ ! -e "$work/t.txt" ] || fail "the text file is still there after OK"
    [ "$(files_in_work)" = spoken ] || fail "files: $(files_in_work), not just \"spoken\""
    [ -z "$(ls -A "$scratch/elsewhere")" ] || fail "the dialog opened in another program's folder"
    [ "$(ls -A "$scratch/config")" = QtProject.conf ] &&
        [ "$(md5sum < "$scratch/config/QtProject.conf")" = "$settings" ] ||
        fail "the program wrote settings: $(ls -A "$scratch/config")"
    format="$(soxi -t "$work/spoken") $(soxi -r "$work/spoken") Hz $(soxi -c "$work/spoken") \
channel(s) $(soxi -b "$work/spoken") bit $(soxi -e "$work/spoken")"
    [ "$format" = "wav 22050 Hz 1 channel(s) 16 bit Signed Integer PCM" ] ||
        fail "the wave file is $format"
    seconds=$(soxi -D "$work/spoken")
    awk -v s="$seconds" 'BEGIN { exit !(s > 1.5) }' || fail "only $seconds s of speech"
    ;;
escape)
    # Long enough to be still rendering when the notice has the focus.
    for i in $(seq 3000); do
        printf 'Sentence number %d keeps the speech engine busy for a little while. ' "$i"
    done > "$work/t.txt"
    before=$(md5sum < "$work/t.txt")
    start_program eSpeak NG English "(America)%$work/t.txt"
    wait_for "focused Save dialog" focused_window_is "Save As"
    xdotool type --delay 15 "$work/long.wav"
    xdotool key Return
    wait_for "focused notice" focused_window_is "$noticeTitle"
    close_when_recorded "$noticeTitle"
    if [ -n "${KESTROVA_X11_SCREENSHOT:-}" ]; then
        import -window root "$KESTROVA_X11_SCREENSHOT"
    fi
    xdotool key Escape
    finish_program
    [ "$status" = 0 ] || fail "status $status, not 0"
    [[ "|$seen|" != *"|$applicationTitle|"* ]] || fail "a message box came: $seen"
    [ "$(md5sum < "$work/t.txt")" = "$before" ] || fail "the text file changed"
    [ "$(files_in_work)" = t.txt ] || fail "files left: $(files_in_work)"
    ;;
stop-*-*)
    signal=${case_name##*-}
    state=${case_name#stop-}
    state=${state%-*}
    reach_state "$state"
    text=$(md5sum < "$work/t.txt")
    [ "$state" != replace ] || old=$(md5sum < "$work/old.wav")
    stop_program "$signal"
    [ "$(md5sum < "$work/t.txt")" = "$text" ] || fail "the text file changed"
    [ "$(files_in_work)" = "$expected_files" ] || fail "files: $(files_in_work)"
    case $state in
    replace)
        [ "$(md5sum < "$work/old.wav")" = "$old" ] || fail "the file asked about changed"
        ;;
    created)
        # Complete: sox decodes it to its end.
        sox "$work/spoken.wav" -n 2> /dev/null || fail "the wave file does not decode"
        seconds=$(soxi -D "$work/spoken.wav")
        awk -v s="$seconds" 'BEGIN { exit !(s > 1.5) }' || fail "only $seconds s of speech"
        ;;
    failure)
        grep -q '^kestrova-wav: .*No Such Voice' "$scratch/out.log" || fail "no failure shown"
        ;;
    esac
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "ok: $case_name (status $status; windows seen: $seen)"
