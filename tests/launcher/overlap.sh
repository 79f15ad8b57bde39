#!/usr/bin/env bash
# The launcher ./kel with overlapping runs in one build folder's Wine session:
# each run ends with its own output and exit status; a run whose kel.exe is
# killed says so and fails; none of them ends the session of the others.
# Usage: tests/launcher/overlap.sh BUILD
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$root/tests/launcher
export KEL_BUILD_DIR=$1 KEL_NO_BUILD=1
unset KEL_WINE_ENV_ACTIVE          # go through the launcher's own session handling
tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
check() {   # check NAME EXPECTED ACTUAL
    if [[ $2 != "$3" ]]; then
        echo "FAIL $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

"$root/kel" "$here/count.kel" 1500000 >"$tmp/long.out" 2>"$tmp/long.err" &
long=$!
pids+=("$long")
sleep 0.5
"$root/kel" "$root/examples/hello.kel" one two >"$tmp/hello.out" 2>&1 &
hello=$!
pids+=("$hello")
"$root/kel" "$here/fails.kel" >"$tmp/fails.out" 2>"$tmp/fails.err" &
fails=$!
pids+=("$fails")

wait "$hello"; check "hello status" 0 $?
wait "$fails"; check "fails status" 1 $?
wait "$long"; check "long status" 0 $?
check "hello output" "$(printf 'Hello to 2 of you:\n  Hello, one!\n  Hello, two!')" "$(tr -d '\r' <"$tmp/hello.out")"
check "fails output" "before the error" "$(tr -d '\r' <"$tmp/fails.out")"
grep -q "Error 3062" "$tmp/fails.err" || { echo "FAIL fails stderr: $(cat "$tmp/fails.err")"; failures=$((failures + 1)); }
check "long output" "counted 1500000" "$(tr -d '\r' <"$tmp/long.out")"

# A run whose kel.exe is killed fails and says so; the next run still works.
"$root/kel" "$here/forever.kel" >"$tmp/forever.out" 2>"$tmp/forever.err" &
forever=$!
pids+=("$forever")
for ((n = 0; n < 300; n++)); do
    grep -q running "$tmp/forever.out" 2>/dev/null && break
    sleep 0.1
done
victim=$(pgrep -f 'kel.exe .*forever.kel' | head -n 1)
[[ -n $victim ]] && kill -KILL "$victim"
wait "$forever"; status=$?
[[ $status -ne 0 ]] || { echo "FAIL killed run: status 0"; failures=$((failures + 1)); }
grep -q "ended without finishing" "$tmp/forever.err" ||
    { echo "FAIL killed run stderr: $(cat "$tmp/forever.err")"; failures=$((failures + 1)); }
"$root/kel" "$root/examples/hello.kel" again >"$tmp/again.out" 2>&1; check "after kill status" 0 $?

((failures == 0)) && echo "launcher overlap: all checks passed"
exit $((failures != 0))
