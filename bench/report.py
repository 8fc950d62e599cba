#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Prints the report of one run.sh: for each compiler's benchmark run, each
velk figure over its OpenSSL equivalent, from the medians of the repetitions
(bytes per second, so a ratio above 1 means velk is faster); the velkfile
versus `openssl enc` rows; and every target beside what was measured.

    report.py --bench clang=bench-clang.json [--bench gcc=bench-gcc.json ...]
              [--file file.txt --rss KIB --cores N]

file.txt has one line per velkfile row: "what|one or all|velkfile MB/s|
openssl MB/s|target ratio" (target "-" for none).

For each compiler it also sets the many-block path's cycles per block in
each width beside what the S-box circuits predict: a round is 8 circuits,
48 key XORs and 32 XORs into L, a block takes 48 rounds over a batch's
share, and the core issues the measured number of vector logic operations
per cycle; the transpositions, loads and stores are left out, so the
measured figure over the predicted one is the distance to the circuits'
own limit."""
import argparse
import json

# Rounds per block of each per-block benchmark, for the cycles-per-round column.
ROUNDS = {"velk_ecb_independent": 16, "velk_ecb_decode_independent": 16, "velk_ecb_chained": 16,
          "openssl_ecb_independent": 16, "openssl_ecb_decode_independent": 16,
          "openssl_ecb_chained": 16}
for name in ["ecb3EDEencode", "ecb3EDEdecode", "ecb3EEEencode", "ecb3EEEdecode", "cbc3EDEencode",
             "cbc3EEEencode", "cbc3EDEdecode", "cbc3EEEdecode"]:
    ROUNDS["velk_" + name] = 48
for name in ["ct_portable_cbc3EEEencode", "ct_avx512_cbc3EEEencode", "ct_portable_ecb3EEEencode",
             "ct_avx512_ecb3EEEencode"]:
    ROUNDS["velk_" + name] = 48
ROUNDS["bearssl_des_ct_cbcenc_3key_per_block"] = 48
for name in ["DES_ecb3_encrypt", "DES_ecb3_decrypt", "DES_ede3_cbc_encrypt_per_block",
             "DES_ede3_cbc_decrypt_per_block"]:
    ROUNDS["openssl_" + name] = 48

# (what, velk benchmark, OpenSSL benchmark, target ratio)
PAIRS = [
    ("single DES encrypt, one block per call, independent", "velk_ecb_independent",
     "openssl_ecb_independent", 1.25),
    ("single DES decrypt, one block per call, independent", "velk_ecb_decode_independent",
     "openssl_ecb_decode_independent", 1.25),
    ("single DES encrypt, one block per call, chained", "velk_ecb_chained",
     "openssl_ecb_chained", 1.20),
    ("des_ecb3EDEencode, one block per call", "velk_ecb3EDEencode", "openssl_DES_ecb3_encrypt", 1.35),
    ("des_ecb3EDEdecode, one block per call", "velk_ecb3EDEdecode", "openssl_DES_ecb3_decrypt", 1.35),
    ("des_ecb3EEEencode, one block per call", "velk_ecb3EEEencode", "openssl_DES_ecb3_encrypt", 1.35),
    ("des_ecb3EEEdecode, one block per call", "velk_ecb3EEEdecode", "openssl_DES_ecb3_decrypt", 1.35),
    ("des_cbc3EDEencode, one block per call, chained", "velk_cbc3EDEencode",
     "openssl_DES_ede3_cbc_encrypt_per_block", 1.35),
    ("des_cbc3EEEencode, one block per call, chained", "velk_cbc3EEEencode",
     "openssl_DES_ede3_cbc_encrypt_per_block", 1.35),
    ("des_cbc3EDEdecode, one block per call", "velk_cbc3EDEdecode",
     "openssl_DES_ede3_cbc_decrypt_per_block", 1.35),
    ("des_cbc3EEEdecode, one block per call", "velk_cbc3EEEdecode",
     "openssl_DES_ede3_cbc_decrypt_per_block", 1.35),
    ("des_cfb3EDEencode (8-bit CFB)", "velk_cfb3EDEencode", "openssl_evp_des_ede3_cfb8", 1.35),
    ("des_cfb3EEEencode (8-bit CFB)", "velk_cfb3EEEencode", "openssl_evp_des_ede3_cfb8", 1.35),
    ("des_ofb3EDEencode (8-bit OFB)", "velk_ofb3EDEencode", "openssl_evp_des_ede3_cfb8", 1.35),
    ("des_ofb3EEEencode (8-bit OFB)", "velk_ofb3EEEencode", "openssl_evp_des_ede3_cfb8", 1.35),
    ("3-key EDE ECB encrypt, 16 KiB buffer (bulk path)", "velk_bulk_ede3_ecb_encrypt",
     "openssl_evp_des_ede3_ecb_encrypt", None),
    ("3-key EDE ECB decrypt, 16 KiB buffer (bulk path)", "velk_bulk_ede3_ecb_decrypt",
     "openssl_evp_des_ede3_ecb_decrypt", None),
    ("3-key EDE CBC decrypt, 16 KiB buffer (bulk path)", "velk_bulk_ede3_cbc_decrypt",
     "openssl_evp_des_ede3_cbc_decrypt", None),
    ("3-key EDE CBC encrypt, 16 KiB buffer (chained)", "velk_bulk_ede3_cbc_encrypt",
     "openssl_evp_des_ede3_cbc_encrypt", None),
    ("libvelkpay velkpay_tdes_ecb_encrypt, 1 MiB per call", "velkpay_tdes_ecb_encrypt_1mib",
     "openssl_evp_des_ede3_ecb_encrypt_1mib", None),
    ("libvelkpay velkpay_tdes_cbc_decrypt, 1 MiB per call", "velkpay_tdes_cbc_decrypt_1mib",
     "openssl_evp_des_ede3_cbc_decrypt_1mib", None),
    ("des_init vs DES_set_key_checked", "velk_des_init", "openssl_DES_set_key_checked", 1.00),
    # The constant-time engines (bench_ct.cpp), the portable one against
    # BearSSL's des_ct in the peer column.
    ("constant-time AVX-512 rounds, 3-key ECB one block", "velk_ct_avx512_ecb3EEEencode",
     "openssl_DES_ecb3_encrypt", 0.75),
    ("constant-time AVX-512 rounds, 3-key CBC one block", "velk_ct_avx512_cbc3EEEencode",
     "openssl_DES_ede3_cbc_encrypt_per_block", None),
    ("constant-time portable rounds, 3-key CBC vs BearSSL des_ct", "velk_ct_portable_cbc3EEEencode",
     "bearssl_des_ct_cbcenc_3key_per_block", 1.20),
]


def medians(path):
    with open(path) as f:
        data = json.load(f)
    out, single = {}, {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b
        elif b.get("run_type") == "iteration":
            single[b["run_name"]] = b
    # A run with one repetition has no aggregates: use its only figure.
    for name, b in single.items():
        out.setdefault(name, b)
    return out


def rate(b):
    return b["bytes_per_second"] / 1e6


def table(head, rows):
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]

    def line(cells):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))


def met(ratio, target, at_least=True):
    return "yes" if (ratio >= target if at_least else ratio < target) else "NO"


# The per-block rows of the targets: (what, velk benchmarks, target).
SINGLE = ["velk_ecb_independent", "velk_ecb_decode_independent"]
PAY = ["velkpay_tdes_ecb_encrypt_1mib", "velkpay_tdes_cbc_decrypt_1mib"]
TRIPLE = ["velk_ecb3EDEencode", "velk_ecb3EDEdecode", "velk_ecb3EEEencode", "velk_ecb3EEEdecode",
          "velk_cbc3EDEencode", "velk_cbc3EEEencode", "velk_cbc3EDEdecode", "velk_cbc3EEEdecode"]


def bench_section(label, m):
    """Prints one compiler's table; returns {velk benchmark: ratio}."""
    clock = m.get("clock_dependent_adds", {}).get("items_per_second")

    def per_round(name):
        # Cycles per block at the measured clock, and divided by the block's
        # rounds: the permutations and the call are spread over the rounds.
        if clock is None or name not in ROUNDS:
            return ""
        cycles = clock / (rate(m[name]) * 1e6 / 8)
        return "%.0f / %.1f" % (cycles, cycles / ROUNDS[name])

    print("### %s%s" % (label, "" if clock is None else
                         ", clock %.2f GHz (dependent additions)" % (clock / 1e9)))
    print()
    head = ["operation", "velk", "OpenSSL", "ratio", "target", "met",
            "cycles per block / per round, velk; OpenSSL"]
    rows, ratios = [], {}
    for what, ours, theirs, target in PAIRS:
        if ours not in m or theirs not in m:
            continue
        if m[ours].get("error_occurred") or m[theirs].get("error_occurred"):
            continue
        a, b = m[ours], m[theirs]
        if ours == "velk_des_init":
            va = "%.0f ns" % a["cpu_time"]
            vb = "%.0f ns" % b["cpu_time"]
        else:
            va, vb = "%.1f MB/s" % rate(a), "%.1f MB/s" % rate(b)
        ratio = rate(a) / rate(b)
        ratios[ours] = ratio
        cyc = per_round(ours)
        cyc = cyc and "%s; %s" % (cyc, per_round(theirs))
        rows.append([what, va, vb, "%.2f" % ratio, "" if target is None else "≥ %.2f" % target,
                     "" if target is None else met(ratio, target), cyc])
    table(head, rows)
    print()
    return ratios


# The widths of the many-block path: (benchmark argument, name, blocks per
# batch, which circuits it runs).
WIDTHS = [(1, "SSE2 (portable)", 128, "gates2"), (2, "AVX2", 256, "gates2"),
          (3, "AVX-512F", 512, "gates3")]


def width_section(label, m):
    """Prints the per-width table of one compiler's run; returns the gate counts."""
    gates = m.get("velk_bulk_circuit_gates")
    clock = m.get("clock_dependent_adds", {}).get("items_per_second")
    if gates is None or clock is None:
        return None
    print("### %s: the many-block path per width, against its circuits' gate count" % label)
    print()
    rows = []
    for arg, name, batch, kind in WIDTHS:
        bench = m.get("velk_bulk_ede3_ecb_encrypt_width/%d/2048" % arg)
        logic = m.get("velk_vector_logic_width/%d" % arg)
        if bench is None or logic is None or bench.get("error_occurred") or \
                logic.get("error_occurred"):
            rows.append([name, batch, "", "", "", "", "", "not run (the processor lacks it)"])
            continue
        per_sbox = gates[kind]
        ops_round = 8 * per_sbox + 48 + 32
        per_cycle = logic["items_per_second"] / clock
        predicted = 48 * ops_round / batch / per_cycle
        measured = clock / (rate(bench) * 1e6 / 8)
        rows.append([name, batch, "%.1f %s" % (per_sbox, "two-input" if kind == "gates2"
                                              else "three-input"),
                     "%.0f" % ops_round, "%.2f" % per_cycle, "%.1f" % predicted,
                     "%.1f" % measured, "%.2f" % (measured / predicted)])
    table(["width", "blocks per batch", "gates per S-box", "operations per round",
           "operations per cycle (measured)", "cycles per block, predicted",
           "cycles per block, measured (ECB, 2048 blocks)", "measured / predicted"], rows)
    print()
    return gates


def avx512_here():
    try:
        with open("/proc/cpuinfo") as f:
            return " avx512f " in f.read().replace("\n", " ")
    except OSError:
        return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", action="append", default=[], metavar="LABEL=JSON")
    ap.add_argument("--file")
    ap.add_argument("--rss", type=int)
    ap.add_argument("--cores", type=int)
    args = ap.parse_args()

    summary = []
    for arg in args.bench:
        label, path = arg.rsplit("=", 1)
        m = medians(path)
        ratios = bench_section(label, m)
        gates = width_section(label, m)
        if gates is not None and not any("S-box circuits" in r[0] for r in summary):
            summary.append(["S-box circuits, two-input gates per S-box (average of 8)",
                            "%.1f" % gates["gates2"], "≤ 50", met(gates["gates2"], 50.0001,
                                                                  at_least=False)])
            summary.append(["S-box circuits, three-input operations per S-box (average of 8)",
                            "%.1f" % gates["gates3"], "≤ 25", met(gates["gates3"], 25.0001,
                                                                  at_least=False)])
        for what, names, target in [
                ("single DES one block per call vs DES_ecb_encrypt", SINGLE, 1.25),
                ("triple DES one block per call vs DES_ecb3_encrypt / DES_ede3_cbc_encrypt",
                 TRIPLE, 1.35)]:
            got = [ratios[n] for n in names if n in ratios]
            if got:
                summary.append(["%s, %s (lowest of %d rows)" % (what, label, len(got)),
                                "%.2f" % min(got), "≥ %.2f" % target, met(min(got), target)])
        # libvelkpay over 1 MiB on one core: 25 times libcrypto where the
        # many-block engine runs AVX-512F, 15 times in the AVX2 width.
        avx512 = "avx2" not in label and avx512_here()
        target = 25.0 if avx512 else 15.0
        for n in PAY:
            if n in ratios:
                summary.append(["%s, %s (%s width)" % (n, label, "AVX-512F" if avx512 else "AVX2"),
                                "%.2f" % ratios[n], "≥ %.0f" % target, met(ratios[n], target)])

    if args.file:
        print("### velkfile against openssl enc -nopad, same file, same bytes")
        print()
        rows = []
        with open(args.file) as f:
            for line in f:
                what, cores, ours, theirs, target = line.strip().split("|")
                ratio = float(ours) / float(theirs)
                where = "one core (taskset -c 0)" if cores == "one" else \
                    "all %s cores" % (args.cores or "")
                shown = "" if target == "-" else "≥ %s" % target
                ok = "" if target == "-" else met(ratio, float(target))
                rows.append([what, where, "%.1f MB/s" % float(ours), "%.1f MB/s" % float(theirs),
                             "%.2f" % ratio, shown, ok])
                if target != "-":
                    summary.append(["%s, %s" % (what, where), "%.2f" % ratio, shown, ok])
        table(["operation", "cores", "velkfile", "openssl enc", "ratio", "target", "met"], rows)
        print()
    if args.rss is not None:
        summary.append(["velkfile peak RSS, largest of every run, threads included",
                        "%.1f MiB" % (args.rss / 1024), "< 8 MiB",
                        met(args.rss / 1024, 8, at_least=False)])

    if summary:
        print("### Targets")
        print()
        table(["row", "measured", "target", "met"], summary)


if __name__ == "__main__":
    main()
