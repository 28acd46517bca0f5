#!/bin/sh
# `cmake --install` then its uninstall, on a prefix of the test's own: the
# uninstall removes every file the install wrote and the folders it
# created, and nothing else; it keeps a file that has changed since, saying
# so, and can then be run again to finish.
#
#   install_and_uninstall.sh BUILD_FOLDER
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/a prefix"
fail() { echo "FAIL: $*"; find "$scratch" | sort; exit 1; }
everything() { (cd "$prefix" && find . | sort | tr '\n' ' '); }

# Folders that were there before the install, one empty, one with another
# program's file.
mkdir -p "$prefix/bin" "$prefix/share/man/man1"
echo another > "$prefix/share/man/man1/another-program.1"
cmake --install "$build" --prefix "$prefix" > /dev/null
echo edited >> "$prefix/share/doc/line-transmitter/copyright"
status=0
sh "$prefix/share/line-transmitter/uninstall" > "$scratch/said" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "a kept file must make the uninstall fail"
grep -q "kept $prefix/share/doc/line-transmitter/copyright: it has changed" "$scratch/said" ||
    fail "the kept file is not named: $(cat "$scratch/said")"
left=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
[ "$left" = "./share/doc/line-transmitter/copyright ./share/line-transmitter/created-folders ./share/line-transmitter/installed-files ./share/line-transmitter/uninstall ./share/man/man1/another-program.1 " ] ||
    fail "left after the uninstall that kept a file: $left"
[ "$(cut -d' ' -f2- "$prefix/share/line-transmitter/installed-files")" = \
  "$prefix/share/doc/line-transmitter/copyright" ] ||
    fail "the list left must hold the kept file alone: $(cat "$prefix/share/line-transmitter/installed-files")"

# Once the user has dealt with it, the same uninstall finishes: the folders
# it created go, those that were there stay, even empty.
rm "$prefix/share/doc/line-transmitter/copyright"
sh "$prefix/share/line-transmitter/uninstall" > "$scratch/said" 2>&1 ||
    fail "the uninstall run again failed: $(cat "$scratch/said")"
left=$(everything)
[ "$left" = ". ./bin ./share ./share/man ./share/man/man1 ./share/man/man1/another-program.1 " ] ||
    fail "left after the uninstall run again: $left"

# On a prefix that the install made, installed twice: a clean uninstall
# leaves nothing, the prefix included.
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
cmake --install "$build" --prefix "$prefix" > /dev/null
sh "$prefix/share/line-transmitter/uninstall" > "$scratch/said" 2>&1 ||
    fail "a clean uninstall failed: $(cat "$scratch/said")"
[ ! -e "$prefix" ] || fail "left after a clean uninstall: $(everything)"
echo "install and uninstall: every file and created folder removed, nothing else"
