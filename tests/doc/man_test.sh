#!/usr/bin/env bash
# The man pages: groff reads them without a single warning, and each names every option its
# program's --help names.   Usage: man_test.sh MAN-DIR QUORVANE-CHECK
set -u
failures=0
for page in "$1"/*.1; do
    warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
    if [[ -n $warnings ]]; then
        echo "FAIL: $page: $warnings" >&2
        failures=$((failures + 1))
    fi
done
page=$(groff -k -man -Tutf8 "$1/quorvane-check.1" 2>/dev/null | sed 's/\x08.//g')
for option in $("$2" --help | grep -oE '^ +(-[A-Za-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+'); do
    if ! grep -q -- "$option" <<<"$page"; then
        echo "FAIL: quorvane-check.1 does not name $option" >&2
        failures=$((failures + 1))
    fi
done
exit $((failures > 0))
