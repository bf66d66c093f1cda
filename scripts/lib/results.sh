# The results of a test run, kept by every script that makes part of it.
# Sourced by those scripts (after cd to the repository):
#   . scripts/lib/results.sh
#   results_begin
#   needs "what these tests are" GROUP... || exit 0   # skipped, with apt's reason
#   counted_ctest "name" --test-dir build ...         # each ctest test counted
#   counted "name" COMMAND...                         # one command as one test
#   result passed|failed|skipped COUNT "name" ["why"]
#   part test-something ARGS...                       # another script, counted in
#   at_exit "command"                                 # cleanup, before the count
# Each script adds its counts to one file; the outermost one prints the
# failures and the skips with their reasons, and ends its output with the
# line CI reads:
#   N passed, N failed, N skipped
# A script exits 1 when anything of its own failed, 0 else: a skip is no
# failure. One that stops before it has counted a failure counts one.

RESULTS_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# result STATUS COUNT NAME [WHY]
result() {
    printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "${4:-}" >>"$GLEANHEX_RESULTS"
}

results_total() {
    awk -F'\t' -v status="$1" -v from="${2:-1}" 'NR >= from && $1 == status { n += $2 } END { print n + 0 }' \
        "$GLEANHEX_RESULTS"
}

results_begin() {
    results_outermost=false
    if [[ -z ${GLEANHEX_RESULTS:-} ]]; then
        results_outermost=true
        results_dir=$(mktemp -d)
        export GLEANHEX_RESULTS=$results_dir/results GLEANHEX_DEPS_STATE=$results_dir/deps
        mkdir -p "$GLEANHEX_DEPS_STATE"
        : >"$GLEANHEX_RESULTS"
    fi
    results_from=$(($(wc -l <"$GLEANHEX_RESULTS") + 1))
    trap results_end EXIT
}

# Cleanup of the script's own, run at its exit before its results are counted
# (the count takes the script's exit trap).
results_cleanup=""
at_exit() { results_cleanup+="$1"$'\n'; }

results_end() {
    local status=$? failed
    eval "$results_cleanup"
    failed=$(results_total failed "$results_from")
    if ((status != 0 && failed == 0)); then
        result failed 1 "$(basename "$0")" "stopped with status $status"
        failed=1
    fi
    if $results_outermost; then
        while IFS=$'\t' read -r what count name why; do
            [[ $what == passed ]] || echo "$what: $count, $name${why:+: $why}"
        done <"$GLEANHEX_RESULTS"
        echo "$(results_total passed) passed, $(results_total failed) failed, $(results_total skipped) skipped"
        rm -rf "$results_dir"
    fi
    trap - EXIT
    exit $((failed > 0))
}

# needs WHAT GROUP...: the groups installed, or WHAT counted as skipped with
# the reason install-deps gives, and false.
needs() {
    local what=$1 out
    shift
    out=$(mktemp)
    if "$RESULTS_SCRIPTS/install-deps" "$@" 2>"$out"; then
        cat "$out" >&2
        rm -f "$out"
        return 0
    fi
    cat "$out" >&2
    result skipped 1 "$what" "$(sed -n 's/^install-deps: cannot install //p' "$out" | paste -sd ';' -)"
    rm -f "$out"
    return 1
}

# The count in the JUnit report's `name="N"`.
junit_count() { sed -n "s/^[[:space:]]*$2=\"\([0-9]*\)\".*/\1/p" "$1" | head -n1; }

# The names of the report's tests whose status is STATUS (a sed pattern).
junit_named() { sed -n "s/.*<testcase name=\"\([^\"]*\)\".*status=\"\($2\)\".*/\1/p" "$1" | paste -sd ' ' -; }

# counted_ctest NAME CTEST-ARGUMENTS...: ctest, each of its tests counted
# under NAME; the failed ones named.
counted_ctest() {
    local name=$1 junit status=0
    shift
    junit=$(mktemp)
    ctest --output-junit "$junit" "$@" || status=$?
    local tests failures skipped disabled
    tests=$(junit_count "$junit" tests) failures=$(junit_count "$junit" failures)
    skipped=$(junit_count "$junit" skipped) disabled=$(junit_count "$junit" disabled)
    skipped=$((${skipped:-0} + ${disabled:-0}))
    if [[ -z $tests ]]; then
        result failed 1 "$name" "ctest ran no test (status $status)"
    else
        result passed $((tests - failures - skipped)) "$name"
        ((failures == 0)) || result failed "$failures" "$name" "$(junit_named "$junit" fail)"
        ((skipped == 0)) || result skipped "$skipped" "$name" "not run: $(junit_named "$junit" 'notrun\|disabled')"
    fi
    rm -f "$junit"
    return $status
}

# counted NAME COMMAND...: the command as one test.
counted() {
    local name=$1
    shift
    if "$@"; then
        result passed 1 "$name"
    else
        local status=$?
        result failed 1 "$name" "status $status"
        return $status
    fi
}

# part SCRIPT ARGS...: another of these scripts, its results counted in
# with these; its failure does not stop this one.
part() {
    echo "== $1 ${*:2}"
    "$RESULTS_SCRIPTS/$1" "${@:2}" || true
}
