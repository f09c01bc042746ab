#!/usr/bin/env bash
# scripts/check-engine-symbols.sh on this build's engine library (it must pass), on
# small libraries that break it (it must fail and name the symbol), and on a build
# without the library (it must skip).
#
# Usage: test_check_engine_symbols.sh /path/to/check-engine-symbols.sh BUILD
set -u
script=${1:?usage: test_check_engine_symbols.sh /path/to/check-engine-symbols.sh BUILD}
build=${2:?usage: test_check_engine_symbols.sh /path/to/check-engine-symbols.sh BUILD}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$script" "$build" > "$work/real.log" 2>&1 || { cat "$work/real.log"; fail "the built engine library breaks the check"; }

# library NAME SOURCE: BUILD/src/libvellicor_engine.a of a build named NAME, compiled
# from the C++ SOURCE.
library() {
    mkdir -p "$work/$1/src"
    printf '%b' "$2" > "$work/$1/a.cpp"
    c++ -c -o "$work/$1/a.o" "$work/$1/a.cpp" && ar rcs "$work/$1/src/libvellicor_engine.a" "$work/$1/a.o"
}
# expect_failure NAME SOURCE TEXT: the check fails on the library and lists TEXT.
expect_failure() {
    library "$1" "$2" || { fail "$1: the library did not build"; return; }
    if "$script" "$work/$1" > "$work/$1/log" 2>&1; then
        fail "$1: the check passed"
    elif ! grep -qF -- "$3" "$work/$1/log"; then
        cat "$work/$1/log"
        fail "$1: \"$3\" is not listed"
    fi
}

expect_failure tcsetattr '#include <termios.h>\nvoid f(const termios* t) { tcsetattr(0, TCSANOW, t); }\n' 'tcsetattr'
expect_failure sigaction '#include <signal.h>\nvoid f(struct sigaction* a) { sigaction(SIGINT, a, nullptr); }\n' \
    'sigaction'
expect_failure signal '#include <csignal>\nvoid f() { std::signal(SIGINT, SIG_IGN); }\n' ': signal'
expect_failure state 'static int calls;\nint Count() { static int seen = 0; return ++calls + ++seen; }\n' 'calls'
expect_failure console 'namespace plat { int ReadConsoleKeys(unsigned short*, int, unsigned) { return 0; } }\n' \
    'plat::ReadConsoleKeys('

# Names that only look alike do not count.
library lookalikes 'namespace plat { void SignalWorkers() {} bool KeyIsTogglish() { return true; } }\nextern const int signals = 1;\n' &&
    { "$script" "$work/lookalikes" > "$work/lookalikes.log" 2>&1 ||
        { cat "$work/lookalikes.log"; fail "look-alike names fail the check"; }; }

# No library: skipped with a message, status 0.
"$script" "$work/none" > "$work/none.log" 2>&1 || fail "a build without the library fails the check"
grep -qF "is not built; skipped." "$work/none.log" || { cat "$work/none.log"; fail "no skip message"; }

[ $failures -eq 0 ] && echo "PASS: check-engine-symbols"
exit $((failures > 0))
