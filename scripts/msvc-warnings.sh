#!/usr/bin/env bash
# The warnings Visual Studio's /W4 /WX turns into errors and GCC never gives,
# found here: every C++ file of src/, tests/, bench/ and demo/, compiled by
# clang-tidy for 64-bit Windows against the MinGW-w64 headers (from the
# compile commands of a MinGW build), and a clang-query matcher for an
# assignment used as a condition. Quiet when clean; otherwise prints where
# and stops with status 1, as it does, saying why, when a tool is missing or
# the build cannot be configured.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop-report.sh
root=$PWD
build=build/msvc-warnings

# Each tool and the package that has it, in install-deps.sh's dev and lint
# groups (the configure below needs GoogleTest too).
need() {
    command -v "$1" >/dev/null ||
        fail "$1 is missing: scripts/install-deps.sh dev lint installs it (Debian's $2)"
}
need cmake cmake
need ninja ninja-build
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
need clang-tidy clang-tidy
need clang-query clang-tools

# Configured only: nothing is built or run, so no Wine is needed.
step="configuring the MinGW build for its compile commands"
mkdir -p build
if ! cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-x64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build.log" 2>&1; then
    cat "$build.log" >&2
    fail "the MinGW build for the compile commands did not configure (above)"
fi

mapfile -t files < <(git ls-files 'src/*.cpp' 'tests/*.cpp' 'bench/*.cpp' 'demo/*.cpp')
# Clang's own GCC-like driver for the MinGW target, whatever compiler the
# commands name, with the C++ library headers of the MinGW compiler (clang
# finds the Windows headers itself, but not a GCC whose version is 12-posix).
target=(--extra-arg-before=--target=x86_64-w64-mingw32)
while read -r dir; do
    target+=("--extra-arg-before=-isystem$dir")
done < <(x86_64-w64-mingw32-g++-posix -E -x c++ -v - </dev/null 2>&1 | grep '^ .*/include/c++')

# Each clang warning and the MSVC warning it stands for:
#   -Wshorten-64-to-32           C4267, C4244 (64-bit value into 32 bits)
#   -Wimplicit-int-conversion    C4244 (integer into a smaller integer)
#   -Wimplicit-float-conversion, -Wfloat-conversion
#                                C4244, C4305 (floating narrowing)
#   -Wconstant-conversion        C4309 (a constant that does not fit)
#   -Wsign-compare               C4018, C4389 (signed against unsigned)
#   -Wshadow-all                 C4456, C4457, C4458, C4459 (shadowing)
#   -Wunused-parameter           C4100 (unreferenced parameter)
#   -Wunused-variable, -Wunused-but-set-variable
#                                C4189 (local set but never read)
#   -Wunused-function            C4505 (unreferenced local function)
#   -Wunused-value               C4552, C4555 (expression without effect)
#   -Wuninitialized, -Wsometimes-uninitialized,
#   -Wconditional-uninitialized  C4700, C4701, C4703 (may be used unset)
#   -Wunreachable-code           C4702 (unreachable code)
#   -Wparentheses                C4706 where the assignment is the bare
#                                condition; the matcher below finds the rest
# C4127 (constant condition) has no clang counterpart; MSVC no longer gives
# it for for (;;) and while (true), the only constant conditions here.
warnings=(-Wshorten-64-to-32 -Wimplicit-int-conversion -Wimplicit-float-conversion
    -Wfloat-conversion -Wconstant-conversion -Wsign-compare -Wshadow-all -Wunused-parameter
    -Wunused-variable -Wunused-but-set-variable -Wunused-function -Wunused-value
    -Wuninitialized -Wsometimes-uninitialized -Wconditional-uninitialized
    -Wunreachable-code -Wparentheses)
extra=()
for w in "${warnings[@]}"; do
    extra+=("--extra-arg=$w")
done

step="looking for the warnings"
tidy_out=$(mktemp)
query_out=$(mktemp)
stop_at_exit rm -f "$tidy_out" "$query_out"

status=0
if ! clang-tidy --quiet -p "$build" "${target[@]}" "${extra[@]}" \
    --checks='-*,clang-diagnostic-*,bugprone-suspicious-semicolon' --warnings-as-errors='*' \
    --header-filter="^$root/(src|tests|bench|demo)/" "${files[@]}" >"$tidy_out" 2>&1; then
    grep -v -e ' warnings\? generated\.$' -e ' errors\? generated\.$' -e '^Error while processing ' \
        -e '^Suppressed [0-9]* warnings' \
        -e '^Use -header-filter=' "$tidy_out" || cat "$tidy_out"
    status=1
fi

# C4706: an assignment as the condition of if, while, do, for or ?:, bare,
# in parentheses or negated (!(f = Call())), alone or as an operand of && or
# ||. Compared ((p = Call()) != NULL), it is not one. Stricter than MSVC,
# which lets ((f = Call())) pass.
assign='ignoringParenImpCasts(anyOf(binaryOperator(isAssignmentOperator()),
    cxxOperatorCallExpr(isAssignmentOperator())))'
operand="ignoringParenImpCasts(anyOf($assign,
    unaryOperator(hasOperatorName(\"!\"), hasUnaryOperand($assign))))"
cond="expr(anyOf($operand, ignoringParenImpCasts(binaryOperator(hasAnyOperatorName(\"&&\", \"||\"),
    hasEitherOperand($operand)))))"
where="isExpansionInFileMatching(\"^$root/(src|tests|bench|demo)/\")"
matcher="stmt($where, anyOf(ifStmt(hasCondition($cond)), whileStmt(hasCondition($cond)),
    doStmt(hasCondition($cond)), forStmt(hasCondition($cond)),
    conditionalOperator(hasCondition($cond))))"
clang-query -p "$build" "${target[@]}" -c 'set output diag' -c "match ${matcher//$'\n'/ }" \
    "${files[@]}" >"$query_out" 2>&1 || {
    cat "$query_out" >&2
    fail "clang-query failed (above)"
}
if grep -q ': note: "root" binds here' "$query_out"; then
    grep ': note: "root" binds here' "$query_out" | sort -u |
        sed 's/: note: "root" binds here/: assignment used as a condition (MSVC C4706)/'
    status=1
fi
[ "$status" = 0 ] || fail "Visual Studio's /W4 /WX would stop on the warnings above"
