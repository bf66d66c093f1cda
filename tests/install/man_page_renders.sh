#!/usr/bin/env bash
# The manual page renders without a single groff warning, on the page and on a
# terminal, and man(1) shows it with the project's version, within 80 columns.
set -uo pipefail
page=$1 version=$2
fail=0

if ! command -v groff >/dev/null; then
  echo "groff is missing (Debian: apt-get install groff-base)"
  exit 1
fi

for device in ps utf8; do
  warnings=$(groff -man -ww -z -T"$device" "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "groff -T$device warns:"
    printf '%s\n' "$warnings"
    fail=1
  fi
done

if command -v man >/dev/null; then
  out=$(mktemp) err=$(mktemp)
  trap 'rm -f "$out" "$err"' EXIT
  MANWIDTH=80 man --warnings -l "$page" >"$out" 2>"$err"
  if [ -s "$err" ]; then
    echo "man -l warns:"
    cat "$err"
    fail=1
  fi
  grep -q '^GLEANHEX(1)' "$out" || { echo "man -l shows no GLEANHEX(1) heading"; fail=1; }
  grep -q "gleanhex $version" "$out" || { echo "man -l shows no version $version"; fail=1; }
  # Characters, not bytes: the page quotes with curly quotes.
  (
    LC_ALL=C.UTF-8 status=0
    while IFS= read -r line; do
      ((${#line} <= 80)) || { echo "wider than 80 columns: $line"; status=1; }
    done <"$out"
    exit $status
  ) || fail=1
fi
exit $fail
