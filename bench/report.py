#!/usr/bin/env python3
"""Prints the ratio table of one benchmark run: each velk figure over its
OpenSSL equivalent, from the medians of the repetitions (bytes per second,
so a ratio above 1 means velk is faster). Optionally appends the velkfile
versus `openssl enc` rows measured by run.sh."""
import json
import sys

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


def row(cells, widths):
    return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"


def main():
    m = medians(sys.argv[1])
    clock = m.get("clock_dependent_adds", {}).get("items_per_second")

    def per_round(name):
        # Cycles per block at the measured clock, divided by the block's
        # rounds: the permutations and the call are spread over the rounds.
        if clock is None or name not in ROUNDS:
            return ""
        return "%.1f" % (clock / (rate(m[name]) * 1e6 / 8) / ROUNDS[name])

    if clock is not None:
        print("clock: %.2f GHz (dependent additions)" % (clock / 1e9))
    head = ["operation", "velk", "OpenSSL", "ratio", "target", "met", "cycles per block / rounds, velk vs OpenSSL"]
    rows = []
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
        met = "" if target is None else ("yes" if ratio >= target else "NO")
        cyc = per_round(ours)
        cyc = cyc and "%s, %s" % (cyc, per_round(theirs))
        rows.append([what, va, vb, "%.2f" % ratio, "" if target is None else "≥ %.2f" % target, met,
                     cyc])
    # velkfile rows: "name velk_mbs openssl_mbs rss_kib target" lines.
    if len(sys.argv) > 2:
        with open(sys.argv[2]) as f:
            for line in f:
                name, ours, theirs, rss, target = line.rsplit(None, 4)
                ratio = float(ours) / float(theirs)
                rows.append([name + " (peak RSS %s KiB)" % rss, "%.1f MB/s" % float(ours),
                             "%.1f MB/s" % float(theirs), "%.2f" % ratio, "≥ %.2f" % float(target),
                             "yes" if ratio >= float(target) else "NO", ""])
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    print(row(head, widths))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(row(r, widths))


if __name__ == "__main__":
    main()
