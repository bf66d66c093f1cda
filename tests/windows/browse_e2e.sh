#!/usr/bin/env bash
# gleanhex.exe under Wine in a terminal, driven the way a user drives it: the
# bytes real terminals send for each key go in, the screen the terminal shows
# comes out (tmux is the terminal).
# Usage: browse_e2e.sh path/to/gleanhex.exe runner...
#   runner: the command line that runs a Windows program here (Wine and its settings).
set -uo pipefail

exe=$1
shift
runner=("$@")
command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 77; }

work=$(mktemp -d)
server=gleanhex-e2e-$$
printf 'set -g remain-on-exit on\nset -g history-limit 0\n' >"$work/tmux.conf"
term() { LC_ALL=C.UTF-8 tmux -L "$server" -f "$work/tmux.conf" "$@"; }
trap 'term kill-server 2>/dev/null; rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

screen() { term capture-pane -p -t app; }
row() { screen | sed -n "$(($1 + 1))p"; }
coloured_row() { term capture-pane -p -e -t app | sed -n "$(($1 + 1))p"; }

# Waits until screen row $1 matches the extended regex $2; the program under
# Wine answers a key in tens of milliseconds, a cold Wine start takes seconds.
expect_row() {
    local deadline=$((SECONDS + ${3:-30}))
    while ((SECONDS < deadline)); do
        row "$1" | grep -Eq -- "$2" && return 0
        sleep 0.1
    done
    fail "row $1 never matched /$2/; the screen:"
    screen | sed 's/^/    |/'
    return 1
}

# Key presses as terminal bytes, in hex.
key() { term send-keys -t app -H "$@"; }
UP_CSI='1b 5b 41' DOWN_CSI='1b 5b 42' RIGHT_CSI='1b 5b 43' LEFT_CSI='1b 5b 44'
UP_SS3='1b 4f 41' DOWN_SS3='1b 4f 42' RIGHT_SS3='1b 4f 43' LEFT_SS3='1b 4f 44'
HOME_CSI='1b 5b 48' HOME_SS3='1b 4f 48'
PAGE_UP='1b 5b 35 7e' PAGE_DOWN='1b 5b 36 7e' INSERT='1b 5b 32 7e' DELETE='1b 5b 33 7e'
CTRL_HOME='1b 5b 31 3b 35 48'

start() {
    term kill-session -t app 2>/dev/null
    term new-session -d -s app -x 100 -y 30 -- env LC_ALL=C.UTF-8 "${runner[@]}" "$exe" "$@"
}

exit_status() {
    local deadline=$((SECONDS + 30)) state
    while ((SECONDS < deadline)); do
        state=$(term display-message -p -t app '#{pane_dead} #{pane_dead_status}')
        [[ $state =~ ^1\ ([0-9]+)$ ]] && { echo "${BASH_REMATCH[1]}"; return; }
        sleep 0.1
    done
    echo "still running"
}

# The screen's fixed rows: 0 header, 2..16 the grid, 21 the selected byte, 22 its address.
HEADER=0 GRID=2 ADDRESS=22

start -mainframe
expect_row $GRID ': \[Welcome Home\]' 60 && expect_row $ADDRESS '^Address: [0-9a-f]+$' ||
    { echo "the browser did not come up"; exit 1; }
home=$(row $ADDRESS | sed -n 's/^Address: \([0-9a-f]*\).*/\1/p')
at() { printf '%x' $((16#$home + $1)); }
echo "home address: $home"
# A 32-bit program's addresses have at most 8 digits.
((${#home} <= 2 * ${GLEANHEX_POINTER_BYTES:-8})) || fail "home $home is wider than the program's pointers"
expect_row $HEADER "^Block starting at address: $home \(0 Bytes from home\)"
expect_row $GRID "^$home : 5b 57 65 6c 63 6f 6d 65 20 48 6f 6d 65 5d"
coloured_row $GRID | grep -Eq $'\e\\[(92m\e\\[42|92;42)m5b' ||
    fail "the selected byte is not bright green on green: $(coloured_row $GRID | cat -v)"

# Arrows, in both the forms terminals send them, move the selection and wrap.
key $RIGHT_CSI
expect_row $ADDRESS "^Address: $(at 1)$"
coloured_row $GRID | grep -Eq $'\e\\[(92m\e\\[42|92;42)m57' || fail "the highlight did not follow the selection"
key $DOWN_SS3
expect_row $ADDRESS "^Address: $(at 17)$"
key $LEFT_SS3 $LEFT_SS3
expect_row $ADDRESS "^Address: $(at 31)$"
key $UP_CSI $UP_SS3 $UP_CSI
expect_row $ADDRESS "^Address: $(at $((13 * 16 + 15)))$"
key $DOWN_CSI
expect_row $ADDRESS "^Address: $(at $((14 * 16 + 15)))$"

# Paging moves the block by 240 bytes and keeps the selection's place in it.
key $PAGE_DOWN
expect_row $HEADER "^Block starting at address: $(at 240) "
expect_row $ADDRESS "^Address: $(at $((240 + 14 * 16 + 15)))$"
key $PAGE_UP $PAGE_UP
expect_row $HEADER "^Block starting at address: $(at -240) "
key $HOME_CSI
expect_row $HEADER "^Block starting at address: $home \(0 Bytes from home\)"
expect_row $ADDRESS "^Address: $home$"
key $PAGE_DOWN $RIGHT_CSI
expect_row $ADDRESS "^Address: $(at 241)$"
key $HOME_SS3
expect_row $ADDRESS "^Address: $home$"

# Insert and Delete from a readable block: the scan ends where it starts.
key $DELETE $INSERT $RIGHT_CSI
expect_row $ADDRESS "^Address: $(at 1)$"
expect_row $HEADER "^Block starting at address: $home \(1 Bytes from home\)"
key $LEFT_CSI
expect_row $ADDRESS "^Address: $home$"

# W asks for a value on the lines below the screen and stores it; the console
# echoes what is typed.
key 77  # w
expect_row $((ADDRESS + 1)) '^Enter byte value \(in decimal, 0-255, any invalid value \(such as -1\) will abort\)$'
expect_row $((ADDRESS + 2)) '^Byte Value:'
key 36 35 0d  # 65, Enter
expect_row $GRID "^$home : 41 57 65 6c .* : AWelcome Home\]"
expect_row $((ADDRESS - 1)) '^Selected Byte: \[A\] HEX:41 Decimal: 65$'

# An escape byte in memory never reaches the terminal as one, where it would
# swallow the bytes after it as a control sequence: Wine shows it as '.'.
key 57  # W
expect_row $((ADDRESS + 2)) '^Byte Value:'
key 32 37 0d  # 27, Enter
expect_row $GRID "^$home : 1b 57 65 6c .* : \.Welcome Home\]"
key 77  # w
expect_row $((ADDRESS + 2)) '^Byte Value:'
key 36 35 0d  # 65, Enter
expect_row $GRID "^$home : 41 57 65 6c .* : AWelcome Home\]"

# A rejected value pauses; the key that ends the pause is one whole key even when
# it is an extended one (Ctrl+Home: lead byte 0xe0, then the code of 'w').
key 57  # W
expect_row $((ADDRESS + 2)) '^Byte Value:'
key 2d 31 0d  # -1, Enter
expect_row $((ADDRESS + 4)) '^Value is invalid, aborting\.$'
expect_row $((ADDRESS + 5)) '^Press any key to continue \. \. \.'
key $CTRL_HOME
expect_row $ADDRESS "^Address: $home$"
sleep 1
screen | grep -q 'Enter byte value' && fail "the pause left half of an extended key to the browser"
expect_row $GRID "^$home : 41 57 " || true

key 58  # X
status=$(exit_status)
screen | grep -q '^Goodbye$' || fail "no farewell after X"
[[ $status == 0 ]] || fail "exit status $status after X"

# -? shows the usage and pauses before the first screen.
start -? -mainframe
expect_row 0 "^Usage: To try to start you out near main\(\)'s stack frame, use '-mainframe'$" 60
expect_row 1 '^This will point to a local variable \(a char array\) in main\(\)$'
expect_row 2 '^Press any key to continue \. \. \.'
key $CTRL_HOME
expect_row $GRID ': \[Welcome Home\]'
expect_row $ADDRESS '^Address: [0-9a-f]+$'
sleep 1
screen | grep -q 'Enter byte value' && fail "the pause after the usage left half of an extended key to the browser"
key 78  # x
status=$(exit_status)
[[ $status == 0 ]] || fail "exit status $status after x"

# Under a multi-byte code page neighbouring bytes would merge into one character
# and shift the grid: the program draws with code page 437, and at the end gives
# the console back its own code page and colours.
term kill-session -t app 2>/dev/null
term new-session -d -s app -x 100 -y 30 -c "$(dirname "$exe")" -- env LC_ALL=C.UTF-8 "${runner[@]}" \
    cmd /c "chcp 65001 >nul & $(basename "$exe") -mainframe & chcp"
expect_row $GRID ': \[Welcome Home\]' 60 && expect_row $ADDRESS '^Address: [0-9a-f]+$'
key 77 && expect_row $((ADDRESS + 2)) '^Byte Value:'
key 31 39 35 0d  # 195, Enter
expect_row $GRID ' : c3 57 '
key $RIGHT_CSI 77 && expect_row $((ADDRESS + 2)) '^Byte Value:'
key 31 36 39 0d  # 169, Enter
expect_row $GRID ' : c3 a9 65 6c .* : ├⌐elcome Home\]'
key 78  # x
exit_status >/dev/null
screen | grep -q '^Active code page: 65001' || fail "the console's code page was not given back"
term capture-pane -p -e -t app | grep 'Active code page' | grep -q $'\e\\[97m' &&
    fail "the console's own colours were not given back"

# Without a console to read keys from, the bytes of standard input are the keys
# and their end ends the program.
out=$(printf 'x' | env LC_ALL=C.UTF-8 "${runner[@]}" "$exe" -mainframe 2>&1)
status=$?
[[ $status == 0 && $out == *'[Welcome Home]'* && $out == *Goodbye* ]] ||
    fail "with keys from a pipe: status $status, output: $out"
# Output that is no console is plain text, each frame on lines of its own.
out=$(printf '\xe0\x50x' | env LC_ALL=C.UTF-8 "${runner[@]}" "$exe" -mainframe 2>/dev/null)
[[ $out != *$'\e'* ]] || fail "escape sequences in output that is no console: $(printf '%s' "$out" | cat -v)"
[[ $(grep -c '^Block starting at address: ' <<<"$out") == 2 ]] || fail "frames not on lines of their own: $out"
out=$(env LC_ALL=C.UTF-8 "${runner[@]}" "$exe" </dev/null 2>&1)
status=$?
[[ $status == 0 && $out == *Goodbye* ]] || fail "with empty input: status $status, output: $out"
# Output that cannot be written ends the program with status 1, and says why.
errors=$(printf 'x' | env LC_ALL=C.UTF-8 "${runner[@]}" "$exe" -mainframe 2>&1 >/dev/full)
status=$?
[[ $status == 1 && $errors == 'gleanhex: cannot write to standard output: '* ]] ||
    fail "with output to a full device: status $status, errors: $errors"

((failures == 0)) && echo "all passed"
exit $((failures > 0))
