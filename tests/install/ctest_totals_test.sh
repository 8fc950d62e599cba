#!/bin/sh
# SPDX-License-Identifier: MIT
# tests/ctest_totals.awk on a log of three ctest runs: one with skipped
# tests, one whose only test was skipped, one with a failure, with other
# output between them (a listing of skipped tests ends at the first other
# line).
#   ctest_totals_test.sh SOURCE_DIR
set -eu
tab=$(printf '\t')
got=$(awk -f "$1/tests/ctest_totals.awk" <<EOF2
100% tests passed, 0 tests failed out of 220

The following tests did not run:
${tab}  8 - Block.AgreesWithLibcryptoOnRandomPairs (Skipped)
${tab}220 - ctgrind.no_secret_dependent_branch_or_address (Skipped)
=== cross workflow: i686-ct
1/1 Test #48: ctgrind ...***Skipped   0.03 sec
100% tests passed, 0 tests failed out of 1

The following tests did not run:
${tab} 48 - ctgrind.no_secret_dependent_branch_or_address (Skipped)
=== mingw-w64
  1 - a numbered line of other output
95% tests passed, 1 test failed out of 20

The following tests FAILED:
${tab}  3 - Bulk.Something (Failed)
EOF2
)
[ "$got" = "237 1 3" ] || { echo "ctest_totals.awk gave '$got', not '237 1 3'"; exit 1; }
