#!/bin/sh
# Non-blank lines of the test suites against those of the code they test.
# Code: the C and C++ sources and headers (.c .cpp .h) of src/, sim/, tools/
# and include/; tests: the same kinds of files in tests/. Only files git
# knows (tracked or new, not ignored) are counted, so build folders are not.
set -eu
cd "$(dirname "$0")/../.."

count() {
    git ls-files -co --exclude-standard -- "$@" | grep -E '\.(c|cpp|h)$' |
        tr '\n' '\0' | xargs -0 cat | grep -cv '^[[:space:]]*$'
}

code=$(count src sim tools include)
tests=$(count tests)
echo "code  (src/ sim/ tools/ include/): $code non-blank lines"
echo "tests (tests/):                    $tests non-blank lines"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio tests/code: %.2f (goal 0.25 to 0.35)\n", t / c }'
