#!/bin/sh
# `cmake --install` then its uninstall, on a prefix of the test's own: the
# uninstall removes every file the install wrote and nothing else, and
# keeps a file that has changed since, saying so.
#
#   install_and_uninstall.sh BUILD_FOLDER
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/a prefix"
fail() { echo "FAIL: $*"; find "$scratch" | sort; exit 1; }

cmake --install "$build" --prefix "$prefix" > /dev/null
mkdir -p "$prefix/share/man/man1"
echo another > "$prefix/share/man/man1/another-program.1"
echo edited >> "$prefix/share/doc/line-transmitter/copyright"
status=0
sh "$prefix/share/line-transmitter/uninstall" > "$scratch/said" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "a kept file must make the uninstall fail"
grep -q "kept $prefix/share/doc/line-transmitter/copyright: it has changed" "$scratch/said" ||
    fail "the kept file is not named: $(cat "$scratch/said")"
left=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
[ "$left" = "./share/doc/line-transmitter/copyright ./share/man/man1/another-program.1 " ] ||
    fail "left after the uninstall: $left"

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
sh "$prefix/share/line-transmitter/uninstall" > /dev/null || fail "a clean uninstall failed"
left=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
[ -z "$left" ] || fail "left after a clean uninstall: $left"
[ ! -e "$prefix/share/line-transmitter" ] && [ ! -e "$prefix/share/doc/line-transmitter" ] ||
    fail "the program's own folders are left"
[ -d "$prefix/bin" ] && [ -d "$prefix/share/man/man1" ] || fail "a shared folder was removed"
echo "install and uninstall: every file removed, nothing else"
