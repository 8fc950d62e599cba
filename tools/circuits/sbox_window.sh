#!/bin/sh
# SPDX-License-Identifier: MIT
# `gen_sbox_circuits window` finds what it should and only that: S4's two
# circuits, each padded with two needless gates (an output complemented
# twice), come back to the record's sizes, and the record's own S4 circuits
# have no window of up to five gates that fewer gates could replace, so the
# record comes back byte for byte.
#   sbox_window.sh GENERATOR RECORD
set -eu
gen=$1
record=$2
awk '/^s4 [23] / { form = $2; n = $3; out = $4; left = n
                   print "s4", form, n + 2, 8 + n + 1, $5, $6, $7; next }
     left > 0 { print
                if (--left == 0) {
                    if (form == 2) { print "xor", out, 7; print "xor", 8 + n, 7 }
                    else { print "0f", out, out, out; print "0f", 8 + n, 8 + n, 8 + n }
                }
                next }
     { print }' "$record" > window.padded.txt
"$gen" window.padded.txt > /dev/null
"$gen" window window.padded.txt 3 30000 4 > window.unpadded.txt
grep '^s4 [23] ' "$record" | cut -d' ' -f3 > window.record.sizes
grep '^s4 [23] ' window.unpadded.txt | cut -d' ' -f3 > window.unpadded.sizes
if ! cmp -s window.record.sizes window.unpadded.sizes; then
    echo "padded S4 circuits came back as $(tr '\n' ' ' < window.unpadded.sizes)gates," \
         "not $(tr '\n' ' ' < window.record.sizes)" >&2
    exit 1
fi
"$gen" window "$record" 5 30000 4 > window.txt
cmp window.txt "$record"
