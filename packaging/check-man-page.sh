#!/bin/sh
# Checks one man page against its program: groff formats it without a warning, its title
# names the program's version, and it documents every option the program's help lists.
#   check-man-page.sh PAGE VERSION [PROGRAM [HELP-ARGUMENTS...]]
# Each HELP-ARGUMENTS is one word list, e.g. "--help" or "program --help".
set -eu
page=$1
version=$2
shift 2

failed=0
fail() {
    echo "$page: $*" >&2
    failed=1
}

warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z "$page" 2>&1) || fail "groff failed"
[ -z "$warnings" ] || fail "groff warns: $warnings"

# .TH NAME SECTION "DATE" "norvak-flash VERSION" "User Commands"
title_version=$(sed -n 's/^\.TH .*"norvak-flash \([^"]*\)".*/\1/p' "$page")
[ "$title_version" = "$version" ] ||
    fail "the title names version '$title_version', the program is $version"

# The page writes a minus as "\-"; what it documents is every --word in it.
documented=$(sed 's/\\-/-/g' "$page" | grep -o -- '--[a-z][a-z-]*' | sort -u)
if [ "$#" -gt 0 ]; then
    program=$1
    shift
    for arguments in "$@"; do
        # shellcheck disable=SC2086 # each word list is split into its arguments on purpose
        help=$("$program" $arguments) || fail "'$program $arguments' failed"
        for option in $(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
            printf '%s\n' "$documented" | grep -qx -- "$option" ||
                fail "'$program $arguments' lists $option, the page does not"
        done
    done
fi
exit "$failed"
