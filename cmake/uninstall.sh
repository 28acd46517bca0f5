#!/bin/sh
# Removes what one `cmake --install` of line-transmitter put on this
# machine, from the list that install kept beside this script: each file
# only while it still holds the bytes installed and no Debian package
# owns that path, so that what another install or the package put there
# stays. Folders are removed only where they are this program's own and
# left empty.
#
#   sh PREFIX/share/line-transmitter/uninstall
set -eu
here=$(cd "$(dirname "$0")" && pwd)
manifest=$here/installed-files
if [ ! -r "$manifest" ]; then
    echo "uninstall: cannot read $manifest; nothing was removed" >&2
    exit 1
fi
kept=0
while read -r digest path; do
    [ -e "$path" ] || continue
    if command -v dpkg-query > /dev/null && dpkg-query -S "$path" > /dev/null 2>&1; then
        echo "uninstall: kept $path: the package $(dpkg-query -S "$path" | cut -d: -f1) owns it" >&2
        kept=$((kept + 1))
    elif [ "$(sha256sum < "$path" | cut -d' ' -f1)" = "$digest" ]; then
        rm -f "$path"
        echo "removed $path"
    else
        echo "uninstall: kept $path: it has changed since the install" >&2
        kept=$((kept + 1))
    fi
    folder=$(dirname "$path")
    [ "${folder##*/}" != line-transmitter ] || rmdir "$folder" 2>/dev/null || true
done < "$manifest"
rm -f "$manifest" "$here/uninstall"
rmdir "$here" 2>/dev/null || true
[ "$kept" -eq 0 ]
