#!/bin/sh
# SPDX-License-Identifier: MIT
# `gen_sbox_circuits merge` stops at the record, and reads other records in
# their own complements: merged with its pool, the record comes back byte
# for byte; the pool merged with the record (its inputs and outputs
# complemented otherwise) comes to the record's sizes.
#   sbox_merge.sh GENERATOR RECORD
set -eu
gen=$1
record=$2
pool=$(dirname "$record")/sbox_circuits_pool.txt
"$gen" merge "$record" "$pool" > merge.txt
cmp merge.txt "$record"
"$gen" merge "$pool" "$record" > merge.pool.txt
grep '^s[1-8] [23] ' "$record" | cut -d' ' -f1-3 > merge.want
grep '^s[1-8] [23] ' merge.pool.txt | cut -d' ' -f1-3 > merge.got
if ! cmp -s merge.want merge.got; then
    echo "the pool merged with the record is not the record's size:" >&2
    diff merge.want merge.got >&2 || true
    exit 1
fi
