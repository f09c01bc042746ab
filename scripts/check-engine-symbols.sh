#!/usr/bin/env bash
# Checks that the engine library carries no process-wide console state: a host that
# embeds libvellicor_engine.a keeps its own terminal mode and signal handlers. Fails
# listing the symbols when `nm -C` of BUILD/src/libvellicor_engine.a names (defines
# or calls)
#   - tcsetattr, tcgetattr, sigaction or signal;
#   - a console key function (the reader, decoder and key rules of
#     platform/console_keys.h, which belong to vellicor_console);
#   - any writable process-wide object: a variable in .data or .bss (a global, a
#     static, a function's static), other than the toolchain's own (DW.ref.*, the
#     standard library's atomic-wait pool). Read-only tables are in .rodata or
#     .data.rel.ro and pass.
# Skips with a message (status 0) when the library is not built.
#
# Usage: check-engine-symbols.sh [BUILD]   (default: the source tree's build/)
set -euo pipefail

library="${1:-$(dirname "$0")/../build}/src/libvellicor_engine.a"
if [ ! -f "$library" ]; then
    echo "check-engine-symbols: $library is not built; skipped."
    exit 0
fi

# Symbols as "TYPE NAME" (defined or undefined), one per line, with the object
# file they come from.
symbols=$(nm -C "$library" 2>/dev/null | awk '
    /:$/ { object = substr($0, 1, length($0) - 1); next }
    NF >= 2 { name = $0; sub(/^[0-9a-fA-F]* *[A-Za-z] /, "", name); print object ": " name }')

terminal=$(grep -E ': (tcsetattr|tcgetattr|sigaction|signal)(@.*)?$' <<<"$symbols" || true)
console=$(grep -E ': plat::([A-Za-z]*Console[A-Za-z]*|KeyRepeatsWhileHeld|KeyIsToggle)\(' <<<"$symbols" || true)

# Objects (O) in writable sections, from objdump's symbol table.
writable=$(objdump -t "$library" 2>/dev/null |
    awk '/ O \.(data|bss)/ && !/\.data\.rel\.ro/ && !/DW\.ref\./ && !/__waiter_pool/' || true)

status=0
if [ -n "$writable" ]; then
    printf 'check-engine-symbols: %s must hold no process-wide state (writable static data)\n%s\n\n' \
        "$library" "$writable" >&2
    status=1
fi
if [ -n "$terminal" ]; then
    printf 'check-engine-symbols: %s must not set the terminal mode or signal handlers\n%s\n\n' \
        "$library" "$terminal" >&2
    status=1
fi
if [ -n "$console" ]; then
    printf 'check-engine-symbols: %s must not hold console key functions (vellicor_console)\n%s\n\n' \
        "$library" "$console" >&2
    status=1
fi
[ $status -eq 0 ] && echo "check-engine-symbols: $library holds no terminal, signal or console state, and no writable static data."
exit $status
