#!/bin/sh
# Removes what one `cmake --install` of line-transmitter put on this
# machine, from the list that install kept beside this script: each file
# only while it still holds the bytes installed and no Debian package
# owns that path, so that what another install or the package put there
# stays. Folders are removed only where the install created them (or they
# are this program's own) and they are left empty.
#
# Where a file is kept, the list (of what is left) and this script stay:
# run it again once the kept files are dealt with, and it finishes.
#
#   sh PREFIX/share/line-transmitter/uninstall
set -eu
here=$(cd "$(dirname "$0")" && pwd)
manifest=$here/installed-files
folders=$here/created-folders
if [ ! -r "$manifest" ]; then
    echo "uninstall: cannot read $manifest; nothing was removed" >&2
    exit 1
fi
kept=0 changed=0
: > "$manifest.left"
while read -r digest path; do
    [ -e "$path" ] || continue
    [ ! "$path" -ef "$here/uninstall" ] || continue  # itself: last, once nothing is kept
    if command -v dpkg-query > /dev/null && dpkg-query -S "$path" > /dev/null 2>&1; then
        # the package's now: not removed, and not ours to list again
        echo "uninstall: kept $path: the package $(dpkg-query -S "$path" | cut -d: -f1) owns it" >&2
        kept=$((kept + 1))
    elif [ "$(sha256sum < "$path" | cut -d' ' -f1)" = "$digest" ]; then
        rm -f "$path"
        echo "removed $path"
    else
        echo "uninstall: kept $path: it has changed since the install" >&2
        kept=$((kept + 1)) changed=$((changed + 1))
        echo "$digest $path" >> "$manifest.left"
    fi
    folder=$(dirname "$path")
    [ "${folder##*/}" != line-transmitter ] || rmdir "$folder" 2>/dev/null || true
done < "$manifest"
if [ "$changed" -gt 0 ]; then
    mv "$manifest.left" "$manifest"
    echo "uninstall: to finish, remove or restore what was kept as changed, then run" \
         "sh $here/uninstall again" >&2
    exit 1
fi
rm -f "$manifest.left" "$manifest" "$here/uninstall"
echo "removed $here/uninstall: this script, its work done (there is nothing to run again)"
# The folders the install created, deepest first (this one among them),
# each only if it is empty.
created=$(cat "$folders" 2> /dev/null || true)
rm -f "$folders"
rmdir "$here" 2> /dev/null || true
printf '%s\n' "$created" | while IFS= read -r folder; do
    [ -z "$folder" ] || rmdir "$folder" 2> /dev/null || true
done
[ "$kept" -eq 0 ]
