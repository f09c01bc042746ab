#!/usr/bin/env bash
# scripts/check-layers.sh on the real tree (it must pass) and on small trees that
# break one rule each (it must fail and name the line).
#
# Usage: test_check_layers.sh /path/to/scripts/check-layers.sh
set -u
script=${1:?usage: test_check_layers.sh /path/to/check-layers.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$script" > "$work/real.log" 2>&1 || { cat "$work/real.log"; fail "the real tree breaks a layering rule"; }

# tree NAME: a minimal tree with the script, every layer present and clean.
tree() {
    local root="$work/$1"
    mkdir -p "$root/scripts" "$root/src"/{platform,engine,analysis,io,vis,ui,app}
    cp "$script" "$root/scripts/check-layers.sh"
    printf '#include "io/app_state.h"\n#include "analysis/stimulus.h"\n' > "$root/src/vis/ok.cpp"
    printf '#include "engine/activity.h"\n#include "platform/log.h"\n' > "$root/src/engine/ok.cpp"
    printf 'add_library(vellicor_vis STATIC)\ntarget_link_libraries(vellicor_vis PUBLIC vellicor_view)\n' \
        > "$root/src/CMakeLists.txt"
    echo "$root"
}
# expect_failure NAME FILE CONTENT TEXT: the check fails on FILE and lists TEXT.
expect_failure() {
    local root
    root=$(tree "$1")
    printf '%b' "$3" > "$root/src/$2"
    if "$root/scripts/check-layers.sh" > "$root/log" 2>&1; then
        fail "$1: the check passed"
    elif ! grep -qF -- "$4" "$root/log"; then
        cat "$root/log"
        fail "$1: \"$4\" is not listed"
    fi
}

root=$(tree clean)
"$root/scripts/check-layers.sh" > "$root/log" 2>&1 || { cat "$root/log"; fail "a clean tree fails"; }

expect_failure vis-app vis/a.cpp '#include "app/shell.h"\n' 'src/vis/a.cpp:1:'
expect_failure ui-app ui/a.h '  #  include <app/lifecycle.h>\n' 'src/ui/a.h:1:'
expect_failure engine-io engine/a.cpp '#include "io/checkpoint.h"\n' 'src/engine/a.cpp:1:'
expect_failure engine-analysis engine/a.h '#include "analysis/stimulus.h"\n' 'src/engine/a.h:1:'
expect_failure engine-app-state engine/a.cpp '#include "engine/app_state.h"\n' 'src/engine/a.cpp:1:'
expect_failure engine-defines-app-state engine/a.h '#pragma once\nstruct AppState : Simulation {\n' 'src/engine/a.h:2:'
expect_failure engine-app-state-file engine/app_state.cpp '\n' 'src/engine/app_state.cpp:1:'
expect_failure engine-fatal engine/a.cpp 'void f() { _exit(1); }\n' 'src/engine/a.cpp:1:'
expect_failure analysis-vis analysis/a.cpp '\n#include "vis/layout.h"\n' 'src/analysis/a.cpp:2:'
expect_failure analysis-gl analysis/a.cpp '#include <GL/gl.h>\n' 'src/analysis/a.cpp:1:'
expect_failure analysis-imgui analysis/a.cpp '#include <imgui.h>\n' 'src/analysis/a.cpp:1:'
expect_failure platform-engine platform/a.cpp '#include "engine/params.h"\n' 'src/platform/a.cpp:1:'
expect_failure io-ui io/a.cpp '#include "ui/toolbox.h"\n' 'src/io/a.cpp:1:'
expect_failure vis-links-app CMakeLists.txt 'target_link_libraries(vellicor_vis PUBLIC vellicor_app glfw)\n' \
    'src/CMakeLists.txt:1:'
expect_failure analysis-exit analysis/a.cpp '// exit(1) is only named here\n/* abort()\n */ void f() { std::exit(1); }\n' \
    'src/analysis/a.cpp:3:'
expect_failure analysis-fatal analysis/a.cpp 'void f() { LogMessage(LogFatal, 0, "x"); }\n' 'src/analysis/a.cpp:1:'

# Calls that only look alike do not count.
root=$(tree lookalikes)
printf 'void f() { atexit(g); quick_exit(0); worker.exit(); p->abort(); }\n// LogFatal in a comment\n' \
    > "$root/src/analysis/a.cpp"
"$root/scripts/check-layers.sh" > "$root/log" 2>&1 || { cat "$root/log"; fail "look-alike calls fail the check"; }

[ $failures -eq 0 ] && echo "PASS: check-layers"
exit $((failures > 0))
