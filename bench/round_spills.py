#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Counts what the compiler made of the many-block path's round, one line per
width: instructions, vector stores to the stack and loads from it (spills
and reloads), and the other memory reads (r, the key masks, l) and writes
(l). Reads the disassembly of the object file of lib/bulk/ede3_bulk.cpp:

    bench/round_spills.py build/bench/lib/CMakeFiles/velkbulk.dir/bulk/ede3_bulk.cpp.o
"""
import re
import subprocess
import sys

LANES = {"2": "SSE2", "4": "AVX2", "8": "AVX-512F"}


def main():
    dis = subprocess.run(["objdump", "-d", "--no-show-raw-insn", "-C", sys.argv[1]],
                         capture_output=True, text=True, check=True).stdout
    width, stats = None, {}
    for line in dis.splitlines():
        head = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if head:
            found = re.search(r"width_round\(unsigned long __vector\((\d)\)", head.group(1))
            width = found.group(1) if found else None
            if width:
                stats[width] = dict(insns=0, spills=0, reloads=0, loads=0, stores=0)
            continue
        insn = re.match(r"^\s*[0-9a-f]+:\s+\S+\s*(.*)$", line)
        if width is None or not insn:
            continue
        s = stats[width]
        s["insns"] += 1
        # AT&T operands, the destination last.
        ops = [o.strip() for o in re.findall(r"[^,(]*\([^)]*\)|[^,]+", insn.group(1))]
        for i, o in enumerate(ops):
            if "(" not in o:
                continue
            stack = "%rsp" in o or "%rbp" in o
            if i == len(ops) - 1 and len(ops) > 1:
                s["spills" if stack else "stores"] += 1
            else:
                s["reloads" if stack else "loads"] += 1
    for w in sorted(stats):
        s = stats[w]
        print("%-9s %4d instructions, %3d stack stores, %3d stack loads, %3d other loads, "
              "%3d other stores" % (LANES.get(w, w), s["insns"], s["spills"], s["reloads"],
                                    s["loads"], s["stores"]))


if __name__ == "__main__":
    main()
