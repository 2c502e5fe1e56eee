#!/bin/bash
# KZ_Tarn.dll exports exactly the names KZ_Tarn.h declares: the plain C ones,
# KZ_BT_SetMute(bool) under its C++ name, and KZ_BT_SwitchCalls at the very
# address of KZ_BT_Hold1stCall.
#   check_exports.sh OBJDUMP KZ_Tarn.dll KZ_Tarn.h
set -eu
objdump=$1 dll=$2 header=$3
table=$("$objdump" -p "$dll")

expected=$( (grep -oE 'KZ_TARN_API [^(]*\bKZ_BT_[A-Za-z0-9]+\(' "$header" |
             grep -oE 'KZ_BT_[A-Za-z0-9]+' | grep -vx KZ_BT_SetMute
             echo _Z13KZ_BT_SetMuteb) | LC_ALL=C sort)
actual=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
         sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort)

status=0
if [ "$expected" != "$actual" ]; then
    echo "export table differs from $header (< expected, > exported):"
    diff <(echo "$expected") <(echo "$actual") || true
    status=1
fi
count=$(printf '%s\n' "$actual" | grep -c .)
[ "$count" -eq 36 ] || { echo "expected 36 exports, found $count"; status=1; }

# The name table's index is the address table's index.
rva_of() {
    index=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n "s/^[[:space:]]*\[ *\([0-9]*\)\] $1\$/\1/p")
    [ -n "$index" ] || return 0
    printf '%s\n' "$table" | sed -n '/^Export Address Table/,/^$/p' |
        sed -n "s/^[[:space:]]*\[ *$index\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA/\1/p"
}
hold=$(rva_of KZ_BT_Hold1stCall) switch=$(rva_of KZ_BT_SwitchCalls)
if [ -z "$hold" ] || [ "$hold" != "$switch" ]; then
    echo "KZ_BT_SwitchCalls (${switch:-none}) is not at the address of KZ_BT_Hold1stCall (${hold:-none})"
    status=1
fi
[ $status -eq 0 ] && echo "36 exports as declared; KZ_BT_SwitchCalls = KZ_BT_Hold1stCall at $hold"
exit $status
