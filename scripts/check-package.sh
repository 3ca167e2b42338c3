#!/usr/bin/env bash
# Checks the Debian package `make package` built in BUILD_DIR: its control fields, its exact file list, and that
# what it installs works when unpacked into a scratch root with dpkg -x: the programs start and link, the man
# pages render without warnings, the AppStream file and the desktop entry validate, and the bash completion
# offers the commands and options that marrowick-cli's own help lists.
set -euo pipefail
build=${1:?usage: check-package.sh BUILD_DIR}
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "check-package: no project version in $build/CMakeCache.txt" >&2; exit 2; }
mapfile -t debs < <(find "$build" -maxdepth 1 -name "marrowick_${version}_*.deb")
[ ${#debs[@]} -eq 1 ] || { echo "check-package: not one marrowick_${version}_*.deb in $build: ${debs[*]:-none}" >&2; exit 2; }
deb=${debs[0]}
echo "Checking $deb"

# Control fields: the project's version, this machine's architecture, library dependencies from dpkg-shlibdeps.
[ "$(dpkg-deb --field "$deb" Package)" = marrowick ] || fail "the package is not named marrowick"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb --field "$deb" Version), project $version"
[ "$(dpkg-deb --field "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "wrong architecture"
depends=$(dpkg-deb --field "$deb" Depends)
depended=$(sed 's/([^)]*)//g; s/[ ,]\+/\n/g' <<<"$depends")
for package in libc6 libstdc++6 libsqlite3-0 libqt6core6 libqt6widgets6 libqt6svg6; do
    grep -qxF "$package" <<<"$depended" || fail "Depends lacks $package: $depends"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

# Exactly these files, nothing else (no tests, benchmarks, static libraries or headers).
expected="usr/bin/marrowick
usr/bin/marrowick-cli
usr/share/applications/marrowick.desktop
usr/share/bash-completion/completions/marrowick-cli
usr/share/icons/hicolor/scalable/apps/marrowick.svg
usr/share/man/man1/marrowick-cli.1.gz
usr/share/man/man1/marrowick.1.gz
usr/share/metainfo/io.github.marrowick.Marrowick.metainfo.xml"
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the package's files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$actual") || true)"

# The programs: the command-line tool runs and reports the project's version; both find all their libraries.
cli="$root/usr/bin/marrowick-cli"
reported=$("$cli" --version) || fail "marrowick-cli --version exited with $?"
[ "$reported" = "marrowick-cli $version" ] || fail "marrowick-cli --version says '$reported', not 'marrowick-cli $version'"
for program in marrowick marrowick-cli; do
    missing=$(ldd "$root/usr/bin/$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program lacks libraries: $missing"
    file -b "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

# The man pages: man shows them, groff finds nothing to warn about, the title carries the version.
for page in marrowick marrowick-cli; do
    file="$root/usr/share/man/man1/$page.1.gz"
    warnings=$(zcat "$file" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
    if ! shown=$(MANWIDTH=80 man -l "$file" 2>"$root/man-errors"); then
        fail "man -l $page.1 failed: $(cat "$root/man-errors")"
    fi
    [ ! -s "$root/man-errors" ] || fail "man -l $page.1 complains: $(cat "$root/man-errors")"
    grep -q '^NAME' <<<"$shown" && grep -q "^       $page - " <<<"$shown" || fail "$page.1 has no NAME line for $page"
    grep -q "Marrowick $version" <<<"$shown" || fail "$page.1 does not name version $version"
done

# The menu entry, its icon and the AppStream file that points at it.
desktop="$root/usr/share/applications/marrowick.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects marrowick.desktop"
icon=$(sed -n 's/^Icon=//p' "$desktop")
compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null || fail "no icon named $icon in the hicolor theme"
metainfo="$root/usr/share/metainfo/io.github.marrowick.Marrowick.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo file"
launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
[ -f "$root/usr/share/applications/$launchable" ] || fail "the metainfo launches '$launchable', which the package lacks"

# The bash completion offers exactly the commands of marrowick-cli --help (and help), and every option of each
# command's help.
completion="$root/usr/share/bash-completion/completions/marrowick-cli"
complete_words() { # complete_words WORD...: what the completion offers for the last word of the command line
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _marrowick_cli; printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' \
        complete "$completion" marrowick-cli "$@"
}
commands=$("$cli" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z]\+\)  .*/\1/p' | LC_ALL=C sort)
[ -n "$commands" ] || fail "no commands found in marrowick-cli --help"
offered=$(complete_words '' | grep -v '^-' || true)
[ "$offered" = "$(printf '%s\n' $commands help | LC_ALL=C sort)" ] ||
    fail "the completion offers other commands than marrowick-cli --help lists: $(echo $offered)"
[ "$(complete_words help '')" = "$commands" ] || fail "help does not complete to the commands"
[ "$(complete_words --v)" = --version ] || fail "--v does not complete to --version"
for command in $commands; do
    options=$("$cli" "$command" --help | grep -oE '^  +-[-A-Za-z]+' | tr -d ' ' || true)
    offered=$(complete_words "$command" -)
    for option in $options --help; do
        grep -qx -- "$option" <<<"$offered" || fail "the completion does not offer $option after $command"
    done
done
mkdir -p "$root/target folder/inner"
[ "$(cd "$root" && complete_words export 1 /var/mobile tar)" = "target folder" ] ||
    fail "the completion does not offer a folder as the export's target"
[ "$(complete_words locations a)" = add ] || fail "locations a does not complete to add"

if [ "$failures" -ne 0 ]; then
    echo "check-package: $failures failures"
    exit 1
fi
echo "check-package: $(basename "$deb") installs and works"
