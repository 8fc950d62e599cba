# SPDX-License-Identifier: MIT
# Adds up the closing counts of every ctest run in a log and prints
# "PASSED FAILED SKIPPED". A run ends with "N% tests passed, F tests failed
# out of T"; the tests in its list of those that did not run are skipped
# (or disabled), not passed.
/^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$/ { total += $NF; failed += $4 }
/^The following tests did not run:$/ { listing = 1; next }
listing && /^[ \t]+[0-9]+ - / { skipped++; next }
{ listing = 0 }
END { print total - failed - skipped, failed + 0, skipped + 0 }
