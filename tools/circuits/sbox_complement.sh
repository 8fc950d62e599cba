#!/bin/sh
# SPDX-License-Identifier: MIT
# `gen_sbox_circuits complement` finds what it should and only that: S4's
# first output complemented once more (a NOT after each circuit, and the
# record's complement line saying so) leaves a two-input circuit that comes
# back to the record's size, and the record itself comes back byte for byte.
#   sbox_complement.sh GENERATOR RECORD
set -eu
gen=$1
record=$2
awk '/^s4 complement / { print $1, $2, $3, (substr($4, 1, 1) == "1" ? "0" : "1") substr($4, 2)
                         next }
     /^s4 [23] / { form = $2; n = $3; out = $4; left = n
                   print "s4", form, n + 1, 8 + n, $5, $6, $7; next }
     left > 0 { print
                if (--left == 0) print (form == 2 ? "xor " out " 7" : "0f " out " " out " " out)
                next }
     { print }' "$record" > complement.padded.txt
"$gen" complement.padded.txt > /dev/null
"$gen" complement complement.padded.txt > complement.unpadded.txt
want=$(grep '^s4 2 ' "$record" | cut -d' ' -f3)
got=$(grep '^s4 2 ' complement.unpadded.txt | cut -d' ' -f3)
if [ "$got" != "$want" ]; then
    echo "padded S4 two-input circuit came back with $got gates, not $want" >&2
    exit 1
fi
"$gen" complement "$record" > complement.txt
cmp complement.txt "$record"
