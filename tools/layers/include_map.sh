#!/bin/sh
# The library's layers and the includes between them.
#
#   include_map.sh [SRC_DIR]          prints "from -> to (count)" for every
#                                     include from one src/ folder into another
#   include_map.sh --check [SRC_DIR]  the same, then fails (exit 1) naming each
#                                     include that runs up a layer or sideways
#                                     between folders that may not see each other
#
# Layers, bottom to top. A folder may include its own layer's files and any
# folder in a lower layer; folders of one layer see each other only where
# SIDEWAYS below allows it.
set -eu

check=0
if [ "${1:-}" = "--check" ]; then check=1; shift; fi
src=${1:-$(dirname "$0")/../../src}

layer_of() {
    case "$1" in
        platform|core) echo 0 ;;
        link) echo 1 ;;
        channel) echo 2 ;;
        events|phonebook|settings|service) echo 3 ;;
        frame) echo 4 ;;
        *) echo 9 ;;
    esac
}

# The explicit calls between the event-side subsystems of layer 3.
SIDEWAYS="events->phonebook events->settings events->service phonebook->settings"

edges=$(cd "$src" && grep -rHoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/[^"]+"' \
            --include='*.h' --include='*.cpp' --include='*.c' . |
        sed -E 's|^\./([a-z_]+)/[^:]*:.*"([a-z_]+)/.*$|\1 \2|' |
        awk '$1 != $2' | sort | uniq -c | awk '{ print $2 " -> " $3 " (" $1 ")" }')

echo "$edges"
[ "$check" = 1 ] || exit 0

bad=0
echo "$edges" | while read -r from arrow to count; do
    [ -n "$from" ] || continue
    lf=$(layer_of "$from"); lt=$(layer_of "$to")
    if [ "$lt" -lt "$lf" ]; then continue; fi
    if [ "$lt" -eq "$lf" ]; then
        case " $SIDEWAYS " in *" $from->$to "*) continue ;; esac
    fi
    echo "include runs up or sideways: $from -> $to $count" >&2
    (cd "$src" && grep -rlE "#[[:space:]]*include[[:space:]]+\"$to/" "$from" | sed 's/^/    /' >&2)
    echo bad
done | grep -q bad && exit 1
echo "layers hold"
