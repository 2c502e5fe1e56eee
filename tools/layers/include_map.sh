#!/bin/sh
# The library's layers and the includes between them.
#
#   include_map.sh [SRC_DIR]          prints "from -> to (n)": n include lines
#                                     of one src/ folder name a header of another
#   include_map.sh --check [SRC_DIR]  fails (exit 1), naming file and header,
#                                     for every include that runs up or
#                                     sideways and is not one of the calls
#                                     against the grain listed below; and for
#                                     a subsystem reset that the library's one
#                                     reset (frame/library_state.cpp) misses
#
# Layers, bottom to top; a file may include headers of its own folder and of
# any lower layer:
#   platform, core      the platform interface; trace, sync objects, run flag
#   link                serial port, framer, codec, link engine, send window
#   channel             message layout and catalogue, command queue, requests
#   settings            INI engine, settings, paired-device registry
#   phonebook, service  download and store; firmware and EEPROM
#   events              dispatch, event thread, connection, calls, inquiry,
#                       audio, notification senders
#   frame               exports, start-up and shut-down, control window
set -eu

check=0
if [ "${1:-}" = "--check" ]; then check=1; shift; fi
src=${1:-$(dirname "$0")/../../src}

# Includes against the grain, each named (file pattern, header): the
# notification senders serve every subsystem beside them; the phonebook
# download and the registry read connection, call and inquiry state.
AGAINST_THE_GRAIN='
phonebook/*            events/notify.h
settings/*             events/notify.h
phonebook/download.cpp events/calls.h
phonebook/download.cpp events/connection.h
phonebook/download.cpp events/inquiry.h
settings/registry.cpp  events/connection.h
settings/registry.cpp  events/inquiry.h
settings/settings.cpp  events/calls.h
'

# Resets that another reset runs as part of its own.
JOINED_RESETS='ResetFramer ResetLinkKeyState ResetLibraryState'

# "file header" for every include of one src/ folder's header by another.
includes() {
    (cd "$src" && grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/[^"]+"' \
        --include='*.h' --include='*.cpp' --include='*.c' .) |
    sed -E 's|^\./([^:]*):[^"]*"([^"]+)".*$|\1 \2|' |
    awk '{ split($1, a, "/"); split($2, b, "/"); if (a[1] != b[1]) print }'
}

if [ "$check" = 0 ]; then
    includes | awk '{ split($1, a, "/"); split($2, b, "/"); print a[1] " -> " b[1] }' |
        sort | uniq -c | awk '{ print $2 " -> " $4 " (" $1 ")" }'
    exit 0
fi

status=0
violations=$(includes | awk -v grain="$AGAINST_THE_GRAIN" '
    function rank(f) {
        if (f == "platform" || f == "core") return 0
        if (f == "link") return 1
        if (f == "channel") return 2
        if (f == "settings") return 3
        if (f == "phonebook" || f == "service") return 4
        if (f == "events") return 5
        if (f == "frame") return 6
        return -1
    }
    function glob_match(pattern, s,    re) {
        re = pattern
        gsub(/\./, "\\.", re)
        gsub(/\*/, ".*", re)
        return s ~ ("^" re "$")
    }
    BEGIN {
        n = split(grain, lines, "\n")
        for (i = 1; i <= n; i++) {
            if (split(lines[i], w, " ") == 2) { pat[++np] = w[1]; hdr[np] = w[2] }
        }
    }
    {
        split($1, a, "/"); split($2, b, "/")
        rf = rank(a[1]); rt = rank(b[1])
        if (rf < 0 || rt < 0) { print "unknown folder: " $1 " includes " $2; next }
        if (rt < rf) next
        for (i = 1; i <= np; i++) if (glob_match(pat[i], $1) && hdr[i] == $2) next
        print "include runs " (rt == rf ? "sideways" : "up") ": " $1 " includes " $2
    }')
if [ -n "$violations" ]; then
    echo "$violations" >&2
    status=1
fi

for reset in $(grep -rhoE '^void Reset[A-Za-z]*\(\);' "$src" | sed -E 's/^void ([A-Za-z]+).*/\1/' | sort -u); do
    case " $JOINED_RESETS " in *" $reset "*) continue ;; esac
    if ! grep -q "^[[:space:]]*$reset();" "$src/frame/library_state.cpp"; then
        echo "reset not joined: $reset() is not called by ResetLibraryState (frame/library_state.cpp)" >&2
        status=1
    fi
done

[ "$status" = 0 ] && echo "layers hold: no include runs up, every reset is joined"
exit "$status"
