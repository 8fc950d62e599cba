#!/bin/sh
# SPDX-License-Identifier: MIT
# Every source file under version control starts with the line
# "SPDX-License-Identifier: MIT" in its own comment syntax (after a #! line
# where there is one). Lists the files that lack it and fails; with --fix,
# adds the line to them instead, so running it twice changes nothing. Files
# that cannot hold a comment (JSON, the fuzz corpus, the lists of exported
# names read line by line) and the licence itself are left out, and so is
# any file of a kind not named below.
#   spdx_headers.sh [--fix] [SOURCE_DIR]
set -eu
fix=no
if [ "${1-}" = --fix ]; then
    fix=yes
    shift
fi
cd "${1:-.}"
if ! files=$(git ls-files 2>/dev/null) || [ -z "$files" ]; then
    echo "skipped: not a git checkout, so the source files are not known"
    exit 77
fi

# The licence line for a file, or nothing for a file that takes none.
line_for() {
    case "$1" in
    LICENSE | CMakePresets.json | lib/exports.txt | lib/pay/exports.txt | fuzz/corpus/*) ;;
    *.c | *.h) echo '/* SPDX-License-Identifier: MIT */' ;;
    *.cpp | *.hpp) echo '// SPDX-License-Identifier: MIT' ;;
    *.md) echo '<!-- SPDX-License-Identifier: MIT -->' ;;
    man/*.[1-9]) echo '.\" SPDX-License-Identifier: MIT' ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.in | *.sh | *.py | *.awk | *.txt | .ci/run | \
        .gitignore | .clang-format) echo '# SPDX-License-Identifier: MIT' ;;
    esac
}

missing=0
for f in $files; do
    line=$(line_for "$f")
    [ -n "$line" ] && [ -f "$f" ] || continue
    if head -n 1 "$f" | grep -q '^#!'; then at=2; else at=1; fi
    [ "$(sed -n "${at}p" "$f")" = "$line" ] && continue
    if [ $fix = no ]; then
        echo "$f: line $at is not: $line"
        missing=$((missing + 1))
        continue
    fi
    # A new file renamed over the old one, with its mode: a shell running a
    # script that gets the line (this one, say) keeps reading the old file.
    tmp="$f.spdx-new"
    cp -p "$f" "$tmp"
    { head -n $((at - 1)) "$f"; printf '%s\n' "$line"; tail -n +$at "$f"; } > "$tmp"
    mv "$tmp" "$f"
    echo "added to $f"
done
if [ $missing -gt 0 ]; then
    echo "$missing source files lack their licence line; run: sh $0 --fix $(pwd)"
    exit 1
fi
