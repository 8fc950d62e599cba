// SPDX-License-Identifier: MIT
// velktext and velkkey: whole reports compared byte for byte with the text
// built here from the published ciphertext tables, the exit status, ignored
// arguments, and the failure report of a sweep whose decryption is broken.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sweep.hpp"
#include "velk_test.hpp"

namespace {

using velk::kat::Varying;
using namespace velk::test;

const std::string kZero = "0000000000000000";
// E(0) under the all-zero key: what every key that sets only a parity bit gives.
const std::string kParityCipher = "8ca64de9c1b123a7";

std::string one_bit(unsigned i) {
    Block b{};
    b[(i - 1) / 8] = static_cast<unsigned char>(0x80u >> ((i - 1) % 8));
    return to_hex(b);
}

std::string lower(const std::string &hex) {
    return to_hex(block_from_hex(hex));
}

struct Vector {
    std::string walking; // the block with the set bit: plaintext or key
    std::string cipher;
};

// Published row n is vector I = n; the table's key differs from ours only in
// parity bits.
std::vector<Vector> text_vectors() {
    const auto rows = read_vectors("sp800_17_variable_text.txt");
    EXPECT_EQ(rows.size(), 64u);
    std::vector<Vector> v;
    for (const auto &row : rows) {
        const unsigned n = std::stoul(row.at("Count"));
        EXPECT_EQ(n, v.size() + 1);
        EXPECT_EQ(lower(row.at("Key")), "0101010101010101");
        EXPECT_EQ(lower(row.at("In")), one_bit(n));
        v.push_back({one_bit(n), lower(row.at("Out"))});
    }
    return v;
}

// The table skips the parity bits, so its row n is vector I = n + (n - 1) / 7;
// the eight parity vectors in between act as the all-zero key.
std::vector<Vector> key_vectors() {
    const auto rows = read_vectors("sp800_17_variable_key.txt");
    EXPECT_EQ(rows.size(), 56u);
    std::vector<Vector> v(64);
    for (unsigned i = 8; i <= 64; i += 8)
        v[i - 1] = {one_bit(i), kParityCipher};
    for (const auto &row : rows) {
        const unsigned n = std::stoul(row.at("Count"));
        const unsigned i = n + (n - 1) / 7;
        Block key = block_from_hex(row.at("Key"));
        for (auto &byte : key)
            byte &= 0xfe;
        EXPECT_EQ(to_hex(key), one_bit(i)) << "row " << n;
        EXPECT_EQ(lower(row.at("In")), kZero);
        v[i - 1] = {one_bit(i), lower(row.at("Out"))};
    }
    for (unsigned i = 1; i <= 64; ++i)
        EXPECT_FALSE(v[i - 1].cipher.empty()) << "I=" << i;
    return v;
}

std::string join(const std::vector<std::string> &lines) {
    std::string s;
    for (const auto &line : lines)
        s += line + "\n";
    return s;
}

// The report's lines up to and including the CT line of vector `last`.
std::vector<std::string> report_lines(Varying varying, const std::vector<Vector> &vectors,
                                      unsigned last) {
    const bool text = varying == Varying::plaintext;
    std::vector<std::string> lines = {
        "Electronic Codebook (ECB) Mode",
        text ? "Variable Text Known Answer Tests" : "Variable Key Known Answer Tests",
        "Algorithm: DES",
        "Keysize=64 Bits",
        "",
        (text ? "KEY=" : "PT=") + kZero,
    };
    for (unsigned i = 1; i <= last; ++i) {
        lines.insert(lines.end(), {"", "I=" + std::to_string(i),
                                   (text ? "PT=" : "KEY=") + vectors[i - 1].walking,
                                   "CT=" + vectors[i - 1].cipher});
    }
    return lines;
}

std::string success_report(Varying varying, const std::vector<Vector> &vectors) {
    auto lines = report_lines(varying, vectors, 64);
    lines.insert(lines.end(), {"", "Succeeded ..."});
    return join(lines);
}

std::string quote(const std::string &arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Outcome {
    std::string out;
    int status;
};

Outcome run_program(const std::string &program, const std::vector<std::string> &args = {}) {
    std::string command = quote(program);
    for (const auto &arg : args) {
        command += ' ';
        command += quote(arg);
    }
    std::FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot start " + program);
    Outcome r{{}, -1};
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        r.out.append(buf, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    return r;
}

const std::vector<std::string> kOddArguments = {
    "-d", "--help", "", "x y", "%s%n%d", "it's", "-k", "0123456789abcdef", "-", "*"};

// The program's whole output and status, bare and with odd arguments.
void expect_program_report(const std::string &program, const std::string &expected) {
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 264);
    for (const auto &args : {std::vector<std::string>{}, kOddArguments}) {
        const Outcome r = run_program(program, args);
        EXPECT_EQ(r.out, expected) << args.size() << " arguments";
        EXPECT_EQ(r.status, 0) << args.size() << " arguments";
    }
}

TEST(Velktext, ReportMatchesPublishedTable) {
    expect_program_report(VELKTEXT_PATH, success_report(Varying::plaintext, text_vectors()));
}

TEST(Velkkey, ReportMatchesPublishedTableAndParityVectors) {
    expect_program_report(VELKKEY_PATH, success_report(Varying::key, key_vectors()));
}

// A decryption that goes wrong at one vector: the real one, then one bit
// flipped on the call for vector `fail_at`.
unsigned fail_at;
unsigned decode_calls;
constexpr unsigned kFlipByte = 3;
constexpr unsigned char kFlipMask = 0x10;

int faulty_decode(const unsigned char in[8], unsigned char out[8], const des_subkeys ks) {
    des_ecbdecode(in, out, ks);
    if (++decode_calls == fail_at)
        out[kFlipByte] ^= kFlipMask;
    return 0;
}

struct FailureCase {
    Varying varying;
    unsigned i;
};

void PrintTo(const FailureCase &c, std::ostream *os) {
    *os << (c.varying == Varying::plaintext ? "velktext" : "velkkey") << " failing at I=" << c.i;
}

class SweepFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(SweepFailure, ReportsFirstFailingVectorAndStops) {
    const auto [varying, i] = GetParam();
    const bool text = varying == Varying::plaintext;
    const auto vectors = text ? text_vectors() : key_vectors();

    const std::string plain = text ? vectors[i - 1].walking : kZero;
    Block decrypted = block_from_hex(plain);
    decrypted[kFlipByte] ^= kFlipMask;
    auto lines = report_lines(varying, vectors, i);
    lines.insert(lines.end(),
                 {"*** Decryption for round " + std::to_string(i - 1) + " failed ***", "",
                  "KEY=" + (text ? kZero : vectors[i - 1].walking), "CT=" + vectors[i - 1].cipher,
                  "PT=" + to_hex(decrypted), "OT=" + plain, "", "Not Succeeded ..."});

    fail_at = i;
    decode_calls = 0;
    char *buf = nullptr;
    std::size_t len = 0;
    std::FILE *out = open_memstream(&buf, &len);
    ASSERT_NE(out, nullptr);
    des_subkeys ks;
    const int status = velk::kat::run_sweep(varying, ks, des_ecbencode, faulty_decode, out);
    std::fclose(out);
    const std::string report(buf, len);
    std::free(buf);

    EXPECT_EQ(status, 1);
    EXPECT_EQ(decode_calls, i) << "the sweep went on past the failing vector";
    EXPECT_EQ(report, join(lines));
}

INSTANTIATE_TEST_SUITE_P(
    Kat, SweepFailure,
    testing::Values(FailureCase{Varying::plaintext, 1}, FailureCase{Varying::plaintext, 5},
                    FailureCase{Varying::plaintext, 64}, FailureCase{Varying::key, 1},
                    FailureCase{Varying::key, 5}, FailureCase{Varying::key, 8},
                    FailureCase{Varying::key, 64}),
    [](const auto &info) {
        return std::string(info.param.varying == Varying::plaintext ? "text" : "key") + "_I" +
               std::to_string(info.param.i);
    });

} // namespace
