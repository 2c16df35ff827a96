#!/usr/bin/env bash
# Installs a build tree into a scratch prefix and checks what lands there:
#
#   check-install.sh BUILD_DIR [PREFIX]
#
# PREFIX must not exist yet (or be empty); without it a fresh temporary directory is used.
# Either way it is removed at the end. KESTROVA_EXPECT_GUI=0 says the window program was
# not built, so its files are not expected. Needs no network.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 BUILD_DIR [PREFIX]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
expect_gui=${KESTROVA_EXPECT_GUI:-1}

if [ $# -eq 2 ]; then
    prefix=$2
    if [ -e "$prefix" ] && [ -n "$(ls -A "$prefix")" ]; then
        echo "check-install: $prefix is not empty; give a new directory" >&2
        exit 2
    fi
    mkdir -p "$prefix"
    prefix=$(cd "$prefix" && pwd)
else
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-install.XXXXXX")
fi

# `cmake --install` rewrites BUILD_DIR/install_manifest.txt, which a real install's
# uninstall (xargs rm < build/install_manifest.txt) relies on: keep the one there was.
manifest=$build/install_manifest.txt
saved_manifest=""
if [ -e "$manifest" ]; then
    saved_manifest=$(mktemp "${TMPDIR:-/tmp}/kestrova-manifest.XXXXXX")
    cp -p "$manifest" "$saved_manifest"
fi
cleanup() {
    rm -rf "$prefix"
    if [ -n "$saved_manifest" ]; then
        mv -f "$saved_manifest" "$manifest"
    else
        rm -f "$manifest"
    fi
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}

if ! out=$(cmake --install "$build" --prefix "$prefix" 2>&1); then
    echo "$out" >&2
    echo "FAIL: cmake --install $build --prefix $prefix" >&2
    exit 1
fi
pass "cmake --install into $prefix"

# PNG size from its IHDR chunk: width and height are the big-endian words at 16 and 20.
png_size() {
    local bytes
    bytes=$(od -An -tx1 -j16 -N8 "$1" | tr -d ' \n')
    printf '%dx%d' "0x${bytes:0:8}" "0x${bytes:8:8}"
}
is_png() {
    [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ]
}

expect_file() {
    if [ -f "$prefix/$1" ]; then pass "$1"; else fail "$1 is not installed"; fi
}
expect_program() {
    if [ -f "$prefix/$1" ] && [ -x "$prefix/$1" ]; then
        pass "$1"
    else
        fail "$1 is not installed as an executable"
    fi
}

expect_program bin/kestrova-wav-cli
expect_file share/man/man1/kestrova-wav-cli.1
expect_file share/doc/kestrova-wav/copyright
pages=(share/man/man1/kestrova-wav-cli.1)

if [ "$expect_gui" = 1 ]; then
    expect_program bin/kestrova-wav
    expect_file share/man/man1/kestrova-wav.1
    pages+=(share/man/man1/kestrova-wav.1)
    for size in 16 32 48; do
        icon=share/icons/hicolor/${size}x${size}/apps/kestrova-wav.png
        if [ ! -f "$prefix/$icon" ]; then
            fail "$icon is not installed"
        elif ! is_png "$prefix/$icon"; then
            fail "$icon is not a PNG"
        elif [ "$(png_size "$prefix/$icon")" != "${size}x${size}" ]; then
            fail "$icon is $(png_size "$prefix/$icon"), not ${size}x${size}"
        else
            pass "$icon (${size}x${size})"
        fi
    done
    svg=share/icons/hicolor/scalable/apps/kestrova-wav.svg
    if [ -f "$prefix/$svg" ] && grep -q '<svg' "$prefix/$svg"; then
        pass "$svg"
    else
        fail "$svg is not installed as an SVG"
    fi

    desktop=share/applications/kestrova-wav.desktop
    if [ ! -f "$prefix/$desktop" ]; then
        fail "$desktop is not installed"
    elif ! command -v desktop-file-validate > /dev/null; then
        fail "desktop-file-validate is missing (package desktop-file-utils)"
    elif ! out=$(desktop-file-validate "$prefix/$desktop" 2>&1) || [ -n "$out" ]; then
        fail "desktop-file-validate $desktop: $out"
    else
        pass "desktop-file-validate $desktop"
    fi
    if [ -f "$prefix/$desktop" ]; then
        # Started by the reader only: hidden from menus, not in a terminal, its own icon,
        # and a command that is installed.
        for line in Type=Application "Name=Kestrova WAV Converter" NoDisplay=true \
                    Terminal=false Icon=kestrova-wav "Categories=AudioVideo;Audio;"; do
            grep -qxF "$line" "$prefix/$desktop" || fail "$desktop lacks the line $line"
        done
        exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$prefix/$desktop")
        [ -x "$prefix/bin/$exec_program" ] ||
            fail "$desktop starts $exec_program, which is not in $prefix/bin"
    fi

    # Software centres read the metainfo; it names the desktop entry it describes.
    metainfo=share/metainfo/org.kestrova.KestrovaWav.metainfo.xml
    if [ ! -f "$prefix/$metainfo" ]; then
        fail "$metainfo is not installed"
    elif ! out=$(appstreamcli validate --no-net "$prefix/$metainfo" 2>&1); then
        fail "appstreamcli validate $metainfo: $out"
    elif ! grep -qF '<launchable type="desktop-id">kestrova-wav.desktop</launchable>' \
        "$prefix/$metainfo"; then
        fail "$metainfo does not launch kestrova-wav.desktop"
    else
        pass "appstreamcli validate $metainfo"
    fi
fi

# The shell completions are where each shell looks, read by the shell itself, and complete
# every option that convert --help lists, with the names --type takes as its values.
check_completions() {
    local bash_file=$prefix/share/bash-completion/completions/kestrova-wav-cli
    local zsh_file=$prefix/share/zsh/vendor-completions/_kestrova-wav-cli
    local fish_file=$prefix/share/fish/vendor_completions.d/kestrova-wav-cli.fish
    local file
    for file in "$bash_file" "$zsh_file" "$fish_file"; do
        [ -f "$file" ] || { fail "${file#"$prefix"/} is not installed"; return; }
    done
    bash -n "$bash_file" || fail "bash -n ${bash_file#"$prefix"/}"
    if command -v zsh > /dev/null; then zsh -n "$zsh_file" || fail "zsh -n _kestrova-wav-cli"; fi
    if command -v fish > /dev/null; then fish -n "$fish_file" || fail "fish -n kestrova-wav-cli.fish"; fi
    local options types
    options=$("$cli" convert --help | grep -oE -- '--[a-z][a-z-]+' | sort -u)
    types=$("$cli" convert --help | sed -n 's/^ *--type \([a-z0-9|]*\).*/\1/p' | tr '|' '\n' | sort)
    local bash_options bash_types
    bash_options=$(bash -c 'source "$1"; COMP_WORDS=(kestrova-wav-cli convert --); COMP_CWORD=2
        _kestrova_wav_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$bash_file" | sort -u)
    bash_types=$(bash -c 'source "$1"; COMP_WORDS=(kestrova-wav-cli convert --type ""); COMP_CWORD=3
        _kestrova_wav_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$bash_file" | sort)
    [ -n "$options" ] && [ "$(comm -23 <(echo "$options") <(echo "$bash_options"))" = "" ] ||
        fail "bash completes not every option of convert --help: $(comm -23 <(echo "$options") <(echo "$bash_options") | tr '\n' ' ')"
    [ -n "$types" ] && [ "$types" = "$bash_types" ] || fail "bash completes --type with: $bash_types"
    if command -v fish > /dev/null; then
        local fish_options
        fish_options=$(fish -c "source '$fish_file'; complete -C'kestrova-wav-cli convert --'" |
            cut -f1 | sort -u)
        [ "$(comm -23 <(echo "$options") <(echo "$fish_options"))" = "" ] ||
            fail "fish completes not every option of convert --help"
    fi
    pass "completions for bash, zsh and fish complete every option of convert"
}

# The manual pages render without a single warning (tbl for the format code table).
for page in "${pages[@]}"; do
    [ -f "$prefix/$page" ] || continue
    if ! out=$(groff -t -man -ww -z "$prefix/$page" 2>&1) || [ -n "$out" ]; then
        fail "groff -t -man -ww -z $page: $out"
    else
        pass "groff -man -ww: $page renders without warnings"
    fi
done

# The installed command line runs on its own, from the prefix.
cli=$prefix/bin/kestrova-wav-cli
if [ -x "$cli" ]; then
    if command -v readelf > /dev/null &&
        readelf -d "$cli" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
        fail "bin/kestrova-wav-cli still looks for libraries in the build tree"
    fi
    if ! voices=$(cd "$prefix" && "$cli" voices 2>&1); then
        fail "bin/kestrova-wav-cli voices failed: $voices"
    elif ! grep -q '^eSpeak NG English (America) ' <<< "$voices"; then
        fail "bin/kestrova-wav-cli voices does not list \"eSpeak NG English (America)\""
    else
        pass "bin/kestrova-wav-cli voices lists \"eSpeak NG English (America)\""
    fi

    # One short conversion with worker processes, as an installed user would run it.
    printf 'Installed and working.\n' > "$prefix/check.txt"
    if ! out=$(cd "$prefix" && "$cli" convert -q -j 2 -e "Flite slt" check.txt 2>&1); then
        fail "bin/kestrova-wav-cli convert failed: $out"
    elif [ "$(head -c 4 "$prefix/check.wav")" != RIFF ] || [ ! -f "$prefix/check.txt" ]; then
        fail "bin/kestrova-wav-cli convert did not write check.wav (or removed check.txt)"
    else
        pass "bin/kestrova-wav-cli convert writes a wave file"
    fi
    # M4B goes through the encoder module, found from the installed program.
    if ! out=$(cd "$prefix" && "$cli" convert -q -o check.m4b check.txt 2>&1); then
        fail "bin/kestrova-wav-cli convert -o check.m4b failed: $out"
    else
        pass "bin/kestrova-wav-cli convert writes an M4B file through its module"
    fi
    check_completions
fi

if [ "$failures" -ne 0 ]; then
    echo "check-install: $failures check(s) failed" >&2
    exit 1
fi
echo "check-install: every check passed"
