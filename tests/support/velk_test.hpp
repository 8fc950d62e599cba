// SPDX-License-Identifier: MIT
// Helpers shared by the test programs: hex text, seeded random data, the
// known-answer vector files and libcrypto as an independent oracle.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "velkcore.h"

namespace velk::test {

using Bytes = std::vector<unsigned char>;
using Block = std::array<unsigned char, 8>;

inline Bytes from_hex(const std::string &hex) {
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) throw std::invalid_argument("odd hex length: " + hex);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline Block block_from_hex(const std::string &hex) {
    const Bytes b = from_hex(hex);
    if (b.size() != 8) throw std::invalid_argument("not one block: " + hex);
    Block out;
    std::copy(b.begin(), b.end(), out.begin());
    return out;
}

template <class Range> std::string to_hex(const Range &bytes) {
    std::string s;
    char buf[3];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        s += buf;
    }
    return s;
}

// Deterministic random data, so a failure can be replayed.
class Random {
  public:
    explicit Random(std::uint64_t seed = 0x76656c6bu) : gen_(seed) {}
    Bytes bytes(std::size_t n) {
        Bytes b(n);
        for (auto &c : b) c = static_cast<unsigned char>(gen_());
        return b;
    }
    Block block() {
        Block b;
        for (auto &c : b) c = static_cast<unsigned char>(gen_());
        return b;
    }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(gen_); }

  private:
    std::mt19937_64 gen_;
};

// One record of a vector file: "Name = hex" lines, records separated by blank
// lines, "#" starts a comment. The names are the file's own (Key, IV, In,
// Out, ...).
using Record = std::map<std::string, std::string>;

inline std::vector<Record> read_vectors(const std::string &name) {
    const std::string path = std::string(VELK_VECTOR_DIR) + "/" + name;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open vector file " + path);
    std::vector<Record> records;
    Record current;
    std::string line;
    auto flush = [&] {
        if (!current.empty()) records.push_back(current);
        current.clear();
    };
    while (std::getline(in, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            if (line.find_first_not_of(" \t\r") == std::string::npos) flush();
            continue;
        }
        auto trim = [](std::string s) {
            const auto b = s.find_first_not_of(" \t\r");
            const auto e = s.find_last_not_of(" \t\r");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        current[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    flush();
    return records;
}

} // namespace velk::test
