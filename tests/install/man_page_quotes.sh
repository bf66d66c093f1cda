#!/usr/bin/env bash
# Every text the program writes, apart from the bytes and numbers it shows, is
# quoted in the manual page, word for word. The program is driven through a
# pipe: each run ends at the end of its input, like X.
set -uo pipefail
page=$1 program=$2

# One line of plain text, white space collapsed, so that filled paragraphs and
# example blocks compare alike.
flatten() { tr '\n\t' '  ' | sed -e 's/\xe2\x88\x92/-/g; s/\xe2\x80\x90/-/g; s/  */ /g'; }

manual=$(groff -man -Tutf8 -P-cbou -rLL=2000n -dAD=l "$page" | flatten)
[ -n "$manual" ] || { echo "the manual page renders empty"; exit 1; }

# Screen texts with the run's own values swapped for the names the manual uses.
program_texts() {
  timeout 20 "$program" "$@" |
    sed -e 's/\x1b\[H\x1b\[J/\n/g' | sed -e 's/\x1b\[[0-9;]*m//g' -e 's/\x1b\[?7[hl]//g' |
    sed -E -e 's/^Block starting at address: [0-9a-f]+ \([0-9]+ Bytes from home\)$/Block starting at address: start (distance Bytes from home)/' \
           -e 's/^Selected Byte: \[.*\] HEX:[0-9a-f]+ Decimal: [0-9]+$/Selected Byte: [char] HEX:hex Decimal: decimal/' \
           -e 's/^Address: [0-9a-f]+$/Address: address/' \
           -e '/^[0-9a-f]+ :( [0-9a-f]{2}){16} : /d' -e '/^-{80}$/d' -e 's/[[:space:]]+$//' -e '/^$/d'
}

fail=0
all=""
run() {
  local what=$1 input=$2
  shift 2
  local texts
  texts=$(printf "$input" | program_texts "$@")
  grep -q '^Goodbye$' <<<"$texts" || { echo "$what: the program did not end with its farewell"; fail=1; }
  all+="$texts"$'\n'
}

run "usage" '' '-?'
run "screen" ''
run "scan up" '\033[2~'
run "scan down" '\033[3~'
run "write prompt, not a number" 'wabc\n'
run "write prompt, too large" 'w256\n'
run "write prompt, end of input" 'w'

while IFS= read -r line; do
  flat=$(printf '%s' "$line" | flatten)
  if [[ "$manual" != *"$flat"* ]]; then
    echo "the program writes this, which the manual page does not quote:"
    echo "    $line"
    fail=1
  fi
done < <(printf '%s' "$all" | awk 'NF && !seen[$0]++')
exit $fail
