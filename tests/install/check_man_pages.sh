#!/bin/sh
# The manual pages made from the programs' help: groff has nothing to say
# about them and their sections have French names.
failed=0
for page in "$@"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page : $warnings"; failed=1; }
    for section in NOM SYNOPSIS DESCRIPTION; do
        zcat "$page" | grep -q "^\.SH $section\$" || { echo "$page : pas de section $section"; failed=1; }
    done
done
exit $failed
