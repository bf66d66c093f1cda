#!/usr/bin/env bash
# `cmake --install` puts exactly the program, its compressed manual page and the
# package's copyright and changelog in place, under
# DESTDIR and the configured prefix as well as under a prefix given at install
# time, and the installed program is the real one. A stripped install, as the
# package's, keeps no compiler notes, and the program binds every symbol at start.
set -uo pipefail
cmake=$1 build=$2 prefix=$3 bindir=$4 mandir=$5 docdir=$6 page=$7
fail=0
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# GNUInstallDirs directories are relative to the prefix unless set absolute.
under() { case $2 in /*) echo "$2" ;; *) echo "$1/$2" ;; esac; }

# expect_tree WHAT TREE PROGRAM MANPAGE DOCDIR: TREE holds those files and nothing else.
expect_tree() {
  local what=$1 top=$2 program=$3 man=$4 doc=$5
  local expected actual
  expected=$(printf '%s\n' "$program" "$man" "$doc/copyright" "$doc/changelog.gz" | sort)
  actual=$(find "$top" -type f -o -type l | sort)
  if [ "$actual" != "$expected" ]; then
    echo "$what: installed files differ from the expected ones:"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/    /'
    fail=1
    return
  fi
  [ -x "$program" ] || { echo "$what: $program is not executable"; fail=1; }
  gzip -dc "$man" | cmp -s - "$page" || { echo "$what: $man is not the generated manual page"; fail=1; }
  # At the end of its input the browser says goodbye and exits 0.
  local out status
  out=$(timeout 20 "$program" </dev/null)
  status=$?
  [ $status -eq 0 ] || { echo "$what: the installed program exited with $status"; fail=1; }
  [[ "$out" == *Goodbye* ]] || { echo "$what: the installed program did not say goodbye"; fail=1; }
}

if ! DESTDIR="$root/staged" "$cmake" --install "$build" >/dev/null; then
  echo "cmake --install into DESTDIR failed"
  exit 1
fi
staged=$root/staged
expect_tree "DESTDIR" "$staged" "$staged$(under "$prefix" "$bindir")/gleanhex" \
  "$staged$(under "$prefix" "$mandir")/man1/gleanhex.1.gz" "$staged$(under "$prefix" "$docdir")"

# Absolute directories would leave the given prefix, and this machine's tree is not ours to fill.
[[ $bindir == /* || $mandir == /* || $docdir == /* ]] && exit $fail
if ! "$cmake" --install "$build" --prefix "$root/prefix" --strip >/dev/null; then
  echo "cmake --install --prefix --strip failed"
  exit 1
fi
expect_tree "--prefix" "$root/prefix" "$root/prefix/$bindir/gleanhex" "$root/prefix/$mandir/man1/gleanhex.1.gz" \
  "$root/prefix/$docdir"
if command -v readelf >/dev/null; then
  stripped=$root/prefix/$bindir/gleanhex
  ! readelf -S "$stripped" | grep -q '\.comment' || { echo "--strip: $stripped keeps its .comment section"; fail=1; }
  readelf -d "$stripped" | grep -q 'FLAGS.*BIND_NOW' || { echo "$stripped does not bind at start (-z now)"; fail=1; }
  readelf -l "$stripped" | grep -q GNU_RELRO || { echo "$stripped has no read-only relocations (-z relro)"; fail=1; }
fi
exit $fail
