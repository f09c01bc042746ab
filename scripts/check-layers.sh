#!/usr/bin/env bash
# Checks that source dependencies point only downwards:
#
#   platform  <-  engine, analysis (no GL, no windows), io  <-  vis, ui  <-  app
#
# Fails listing the offending lines when
#   - vis/ or ui/ include app/ (they declare interfaces that app/ implements);
#   - engine/ or analysis/ include vis/, ui/, app/ or io/; engine/ includes analysis/;
#   - io/ includes vis/, ui/ or app/;
#   - engine/ or analysis/ include GL, GLX, GLFW, glad or ImGui headers;
#   - engine/ defines or includes the program's record (app_state: AppState,
#     AppOptions), which belongs to io/;
#   - platform/ includes any other layer;
#   - vellicor_vis or vellicor_ui link vellicor_app;
#   - engine/ or analysis/ end the process (exit, _exit, abort, LogFatal): they
#     return errors;
#   - the public headers (include/vellicor/) include anything but the standard
#     library and each other, or api/ and python/ include app/, ui/ or vis/.
#
# Run from anywhere; exit status 1 when a rule is broken.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0

# includes DIR REGEX: the #include lines of DIR's sources whose path matches REGEX.
includes() {
    grep -rnE --include='*.h' --include='*.cpp' --include='*.in' \
        "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($2)" "src/$1" || true
}

# rule TEXT LINES: reports LINES (file:line:text) under TEXT and fails the check.
rule() {
    [ -z "$2" ] && return 0
    printf 'check-layers: %s\n%s\n\n' "$1" "$2" >&2
    status=1
}

rule "vis/ must not include app/" "$(includes vis 'app/')"
rule "ui/ must not include app/" "$(includes ui 'app/')"
rule "engine/ must not include vis/, ui/, app/ or io/" "$(includes engine 'vis/|ui/|app/|io/')"
rule "engine/ must not include analysis/" "$(includes engine 'analysis/')"
rule "engine/ must not define or include app_state (AppState, AppOptions belong to io/)" \
    "$(includes engine '([^\">]*/)?app_state'
       grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*(struct|class)[[:space:]]+(AppState|AppOptions)([^[:alnum:]_;]|$)' \
           src/engine || true
       find src/engine -name 'app_state.*' | sed 's|$|:1: a file of the program record|')"
rule "analysis/ must not include vis/, ui/, app/ or io/" "$(includes analysis 'vis/|ui/|app/|io/')"
rule "io/ must not include vis/, ui/ or app/" "$(includes io 'vis/|ui/|app/')"
gl='GL/|glad|GLFW/|imgui|backends/imgui'
rule "engine/ must not include GL, GLFW or ImGui headers" "$(includes engine "$gl")"
rule "analysis/ must not include GL, GLFW or ImGui headers" "$(includes analysis "$gl")"
rule "platform/ must not include another layer" \
    "$(includes platform 'engine/|analysis/|io/|vis/|ui/|app/')"
rule "vellicor_vis and vellicor_ui must not link vellicor_app" \
    "$(grep -nE 'target_link_libraries\((vellicor_vis|vellicor_ui)[[:space:]].*vellicor_app' src/CMakeLists.txt |
        sed 's|^|src/CMakeLists.txt:|' || true)"

# fatal_calls DIR: lines of DIR's sources (comments stripped) that end the process.
fatal_calls() {
    find "src/$1" -name '*.cpp' -o -name '*.h' | sort | while read -r file; do
        # Comments are blanked, line numbers kept: // to the end of the line, and
        # /* ... */ blocks.
        perl -0pe 's{/\*.*?\*/}{ my $c = $&; $c =~ s/[^\n]//g; $c }gse; s{//[^\n]*}{}g' "$file" |
            grep -nE '(^|[^[:alnum:]_:.>])(std::)?(_exit|exit|abort)[[:space:]]*\(|\bLogFatal\b' |
            sed "s|^|$file:|" || true
    done
}

rule "analysis/ must return errors, not end the process" "$(fatal_calls analysis)"

# The public headers: standard headers (<name>, no slash or extension) and vellicor/.
public_includes=$(grep -rnE '^[[:space:]]*#[[:space:]]*include' include/vellicor |
    grep -vE '#[[:space:]]*include[[:space:]]*(<[a-z_]+>|"vellicor/[a-z_]+\.h")' || true)
rule "include/vellicor/ must include only standard headers and vellicor/" "$public_includes"
rule "api/ must not include app/, ui/ or vis/" "$(includes api 'app/|ui/|vis/')"
rule "python/ must include only the public interface" "$(includes python 'engine/|analysis/|io/|platform/|app/|ui/|vis/')"
rule "engine/ must return errors, not end the process" "$(fatal_calls engine)"

[ $status -eq 0 ] && echo "check-layers: dependencies point downwards."
exit $status
