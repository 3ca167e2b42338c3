#!/usr/bin/env bash
# Checks that the core stands alone: no file under the given folder (default src/core) includes a header of
# the windows (gui/...), of the command-line tool (cli/...) or of Qt (<QString>, <QtCore/...>, <qglobal.h>).
# Prints each offending line as FILE:LINE: TEXT and exits 1 when there is one, 2 when there is nothing to check.
set -euo pipefail
dir=${1:-"$(dirname "$0")/../src/core"}

mapfile -d '' files < <(find "$dir" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.inc' \) -print0)
if [ ${#files[@]} -eq 0 ]; then
    echo "check-core-includes: no C++ files under $dir" >&2
    exit 2
fi

# The header named by an #include, with or without spaces around the '#', in <...> or "...".
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]'
forbidden="${include}((\.\./)*(src/)?(gui|cli)/|Qt[A-Za-z0-9]*/|Q[A-Z][A-Za-z0-9]*[>\"]|q[a-z0-9_]+\.h[>\"])"

if grep -nHE "$forbidden" "${files[@]}"; then
    echo "check-core-includes: the lines above include the windows, the command-line tool or Qt from the core" >&2
    exit 1
fi
echo "check-core-includes: ${#files[@]} files under $dir include no gui/, cli/ or Qt header"
