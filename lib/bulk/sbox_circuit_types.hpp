// SPDX-License-Identifier: MIT
// The shapes of the S-box circuits in sbox_circuits.hpp, and their check:
// every circuit is evaluated at compile time on all 64 inputs at once (input
// i as the truth table of x_i) and must give the S-box's four output bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tables.hpp"

namespace velk::bulk {

enum GateOp : unsigned char { g_and, g_or, g_xor, g_andn }; // g_andn: a & ~b

struct Gate2 {
    GateOp op;
    unsigned char a, b;
};

// vpternlog's form: bit 4a + 2b + c of imm is the result for the values a, b, c.
struct Gate3 {
    unsigned char imm, a, b, c;
};

inline constexpr std::size_t max_gates2 = 128, max_gates3 = 96;

// Values 0-5 are the inputs x0..x5 (x0 the first expanded bit), 6 is all
// zeros, 7 all ones, and 8 + i the result of gate i. out[j] is the value of
// output bit j, j = 0 the most significant.
struct Circuit2 {
    unsigned count;
    unsigned char out[4];
    Gate2 g[max_gates2];
};

struct Circuit3 {
    unsigned count;
    unsigned char out[4];
    Gate3 g[max_gates3];
};

inline constexpr std::size_t first_gate = 8;

constexpr std::uint64_t gate_value(GateOp op, std::uint64_t a, std::uint64_t b) {
    switch (op) {
    case g_and:
        return a & b;
    case g_or:
        return a | b;
    case g_xor:
        return a ^ b;
    default:
        return a & ~b;
    }
}

constexpr std::uint64_t ternary_value(unsigned imm, std::uint64_t a, std::uint64_t b,
                                      std::uint64_t c) {
    std::uint64_t r = 0;
    for (unsigned k = 0; k < 8; ++k)
        if ((imm >> k) & 1u)
            r |= ((k & 4u) ? a : ~a) & ((k & 2u) ? b : ~b) & ((k & 1u) ? c : ~c);
    return r;
}

// The truth table of input i over the 64 inputs (bit x is x_i at input x).
constexpr std::uint64_t input_table(unsigned i) {
    std::uint64_t t = 0;
    for (unsigned x = 0; x < 64; ++x)
        if ((x >> (5 - i)) & 1u)
            t |= std::uint64_t{1} << x;
    return t;
}

// Which of an S-box's inputs and outputs its circuits hold complemented:
// bit 5 - i of `inputs` for x_i, bit 3 - j of `outputs` for output bit j
// (the orders of x and of the S-box's value). The round pays nothing for
// them: it complements the key masks that meet those values instead.
struct Complement {
    unsigned char inputs, outputs;
};

// Output bit j (0 = most significant) of S-box s as a truth table, for a
// circuit whose inputs and outputs are complemented as `k` says.
constexpr std::uint64_t output_table(unsigned s, unsigned j, Complement k = {}) {
    std::uint64_t t = 0;
    for (unsigned x = 0; x < 64; ++x) {
        const unsigned y = x ^ k.inputs;
        const unsigned v = sbox[s][((y >> 4) & 2u) | (y & 1u)][(y >> 1) & 15u] ^ k.outputs;
        if ((v >> (3 - j)) & 1u)
            t |= std::uint64_t{1} << x;
    }
    return t;
}

// Whether circuit c computes S-box s, complemented as k says: every operand
// names an earlier value.
template <class Circuit> constexpr bool computes_sbox(const Circuit &c, unsigned s, Complement k) {
    std::uint64_t v[first_gate + max_gates2] = {};
    for (unsigned i = 0; i < 6; ++i)
        v[i] = input_table(i);
    v[7] = ~std::uint64_t{0};
    for (unsigned i = 0; i < c.count; ++i) {
        const auto &g = c.g[i];
        const std::size_t at = first_gate + i;
        if constexpr (requires { g.op; }) {
            if (g.a >= at || g.b >= at)
                return false;
            v[at] = gate_value(g.op, v[g.a], v[g.b]);
        } else {
            if (g.a >= at || g.b >= at || g.c >= at)
                return false;
            v[at] = ternary_value(g.imm, v[g.a], v[g.b], v[g.c]);
        }
    }
    for (unsigned j = 0; j < 4; ++j)
        if (c.out[j] >= first_gate + c.count || v[c.out[j]] != output_table(s, j, k))
            return false;
    return true;
}

} // namespace velk::bulk
