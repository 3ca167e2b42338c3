#!/usr/bin/env bash
# Runs scripts/check-core-includes.sh on small made-up cores: every kind of forbidden include must be caught
# and named, the includes the core really uses must pass, and an empty folder must not pass for a clean one.
set -uo pipefail
check=${1:?usage: CoreIncludesCheckTest.sh path/to/check-core-includes.sh}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# expect STATUS LINE...: a core of one file holding the lines must make the check exit with STATUS.
expect() {
    local status=$1
    shift
    rm -rf "$scratch/core" && mkdir -p "$scratch/core/backup"
    printf '%s\n' '#pragma once' "$@" >"$scratch/core/backup/Sample.h"
    local output actual
    output=$(bash "$check" "$scratch/core" 2>&1)
    actual=$?
    if [ "$actual" -ne "$status" ]; then
        echo "FAIL: exit $actual, not $status, for: $*"
        echo "$output"
        failures=$((failures + 1))
    elif [ "$status" -eq 1 ] && ! grep -q 'Sample.h:2:' <<<"$output"; then
        echo "FAIL: the offending line is not named for: $*"
        echo "$output"
        failures=$((failures + 1))
    fi
}

expect 0 '#include "core/backup/FileNode.h"' '#include <string>' '#include <sqlite3.h>' '#include <sys/stat.h>'
expect 0 '// see gui/app/MarrowickDlg.h for the window' '#include <queue>'
expect 1 '#include "gui/app/MarrowickDlg.h"'
expect 1 '#include "cli/Cli.h"'
expect 1 '#include "../../gui/browser/DlgProgress.h"'
expect 1 '#include "src/cli/Json.h"'
expect 1 '#include <QString>'
expect 1 '  #  include <QtCore/QObject>'
expect 1 '#include <qglobal.h>'
expect 1 '#include "QDir"'

# A folder with no C++ file in it is a wrong path, not a clean core.
rm -rf "$scratch/core" && mkdir -p "$scratch/core"
bash "$check" "$scratch/core" >/dev/null 2>&1
if [ $? -ne 2 ]; then
    echo "FAIL: an empty folder is not reported"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "the include check catches every forbidden include"
exit $((failures > 0))
