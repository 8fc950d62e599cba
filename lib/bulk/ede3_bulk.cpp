// SPDX-License-Identifier: MIT
// Three-key EDE over many blocks, bitsliced: a batch of blocks is turned on
// its side so that one vector holds one bit position of every block, and the
// cipher then runs as a fixed sequence of logic operations on whole vectors.
// The permutations become a choice of which vector to use, the S-boxes
// become circuits (sbox_circuits.hpp), and no table is indexed by data.
#include "ede3_bulk.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "block.hpp"
#include "block_ct.hpp"
#include "cpu_features.hpp"
#include "sbox_circuits.hpp"
#include "tables.hpp"
#include "triple_stages.hpp"
#include "wipe.hpp"

// The wider widths need the target attribute of GCC and Clang on x86; the
// library's processor check (cpu_features.hpp) says where they run.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VELK_BULK_X86 1
#include <immintrin.h>
#else
#define VELK_BULK_X86 0
#endif

// The helpers below take and return 32- and 64-byte vectors by value. They
// are all inlined into functions built for AVX2 or AVX-512F, so no call ever
// crosses the ABI that GCC warns about.
#if defined(__clang__)
#if __has_warning("-Wpsabi")
#pragma clang diagnostic ignored "-Wpsabi"
#endif
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace velk {
namespace {

// One slice holds one bit position of a batch: in lane `lane`, bit 63 - i
// belongs to block lanes * i + lane. Two, four or eight 64-bit lanes make a
// 16-, 32- or 64-byte vector; the code is the same for every width.
using Slice128 = std::uint64_t __attribute__((vector_size(16)));
using Slice256 = std::uint64_t __attribute__((vector_size(32)));
using Slice512 = std::uint64_t __attribute__((vector_size(64)));

template <class Slice> constexpr std::size_t lanes = sizeof(Slice) / sizeof(std::uint64_t);
template <class Slice> constexpr std::size_t batch_blocks = 64 * lanes<Slice>;

// One subkey bit as the key object keeps it: the mask four times.
using Mask = std::uint64_t[4];

// The mask in every lane: the 16- and 32-byte widths read it as it is (a
// load the XOR takes as its operand), the 64-byte width broadcasts one word
// of it as it loads it.
template <class Slice> [[gnu::always_inline]] inline Slice mask(const Mask &m) {
    if constexpr (sizeof(Slice) <= sizeof(Mask)) {
        Slice v;
        std::memcpy(&v, m, sizeof v);
        return v;
    } else {
        return Slice{} + m[0];
    }
}

// ---- S-boxes as circuits -------------------------------------------------
//
// Each S-box is a straight-line circuit found by the searches of
// tools/circuits/gen_sbox_circuits.cpp, of AND, OR, XOR and AND-NOT for the
// 16- and 32-byte widths and of three-input operations (vpternlog) for the
// 64-byte width.
// The values of a circuit live in one array indexed by constants, so the
// compiler keeps them in registers.

// ---- The order of evaluation --------------------------------------------
//
// The record lists a circuit's gates in the order the searches left
// them, which keeps many values alive at once: with the sixteen registers
// of AVX2 the compilers then spill and reload. The round evaluates each
// circuit in an order chosen here instead, gate by gate from those whose
// operands are ready: the one that ends the most values (its operands' last
// uses) and starts the fewest (inputs it is the first to read), on a tie
// the one that reads the value computed last. Each input is read from r and keyed just
// before the first gate that needs it, and each output is XORed into l as
// soon as its gate is done, so no value waits for the end of the circuit.

// The operands of gate i, however many it has.
constexpr unsigned operand_count(const bulk::Circuit2 &) {
    return 2;
}
constexpr unsigned operand_count(const bulk::Circuit3 &) {
    return 3;
}
constexpr unsigned char &operand(bulk::Gate2 &g, unsigned k) {
    return k == 0 ? g.a : g.b;
}
constexpr unsigned char &operand(bulk::Gate3 &g, unsigned k) {
    return k == 0 ? g.a : k == 1 ? g.b : g.c;
}

constexpr std::size_t max_values = bulk::first_gate + bulk::max_gates2;
static_assert(bulk::max_gates3 <= bulk::max_gates2);

// Circuit c with its gates in the order described above, the values
// renumbered to match (so that the result is again a circuit to check).
template <class Circuit> constexpr Circuit in_register_order(Circuit c) {
    const unsigned n = c.count, ops = operand_count(c);
    unsigned uses[max_values] = {};
    for (unsigned i = 0; i < n; ++i)
        for (unsigned k = 0; k < ops; ++k)
            ++uses[operand(c.g[i], k)];
    bool done[max_values] = {}; // inputs read, gates evaluated
    for (unsigned v = 6; v < bulk::first_gate; ++v)
        done[v] = true;
    unsigned char renamed[max_values] = {};
    for (unsigned v = 0; v < bulk::first_gate; ++v)
        renamed[v] = static_cast<unsigned char>(v);
    Circuit r = c;
    for (unsigned step = 0; step < n; ++step) {
        int best = -1, best_score = 0, best_recent = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (done[bulk::first_gate + i])
                continue;
            bool ready = true;
            // A value that only leaves as an output is XORed into l at once.
            int score = uses[bulk::first_gate + i] == 0 ? 0 : -1, recent = -1;
            for (unsigned k = 0; k < ops; ++k) {
                const unsigned a = operand(c.g[i], k);
                if (a >= bulk::first_gate && !done[a])
                    ready = false;
                unsigned here = 0; // this gate's reads of a
                for (unsigned m = 0; m < ops; ++m)
                    here += operand(c.g[i], m) == a;
                bool first_read = true;
                for (unsigned m = 0; m < k; ++m)
                    first_read = first_read && operand(c.g[i], m) != a;
                if (!first_read)
                    continue;
                if (a < 6 && !done[a])
                    --score;
                if (uses[a] == here && a != 6 && a != 7)
                    ++score;
                if (a >= bulk::first_gate && renamed[a] > recent)
                    recent = renamed[a];
            }
            if (ready &&
                (best < 0 || score > best_score || (score == best_score && recent > best_recent))) {
                best = static_cast<int>(i);
                best_score = score;
                best_recent = recent;
            }
        }
        if (best < 0)
            return Circuit{}; // an operand names a later gate: no circuit
        auto &g = c.g[best];
        auto moved = g;
        for (unsigned k = 0; k < ops; ++k) {
            const unsigned a = operand(g, k);
            --uses[a];
            done[a] = true;
            operand(moved, k) = renamed[a];
        }
        r.g[step] = moved;
        done[bulk::first_gate + best] = true;
        renamed[bulk::first_gate + best] = static_cast<unsigned char>(bulk::first_gate + step);
    }
    for (unsigned j = 0; j < 4; ++j)
        r.out[j] = renamed[c.out[j]];
    return r;
}

// vpternlog overwrites its first operand, so a compiler that does not
// reorder the operands itself (g++) copies that operand first whenever it is
// still needed. This puts first, where it can, an operand the gate reads for
// the last time (the operation's table, imm, permuted to match).
constexpr bulk::Circuit3 dying_operand_first(bulk::Circuit3 c) {
    for (unsigned i = 0; i < c.count; ++i) {
        auto &g = c.g[i];
        const auto dies = [&](unsigned v) {
            if (v == 6 || v == 7)
                return false;
            for (unsigned later = i + 1; later < c.count; ++later)
                if (c.g[later].a == v || c.g[later].b == v || c.g[later].c == v)
                    return false;
            return true;
        };
        if (dies(g.a))
            continue;
        const unsigned k = dies(g.b) ? 1 : dies(g.c) ? 2 : 0;
        if (k == 0)
            continue;
        // New operand 0 is old operand k and the other way round.
        unsigned imm = 0;
        for (unsigned x = 0; x < 8; ++x) {
            const unsigned bit0 = (x >> 2) & 1u, bitk = (x >> (2 - k)) & 1u;
            unsigned old = x & ~(4u | (4u >> k));
            old |= bitk << 2 | bit0 << (2 - k);
            imm |= ((g.imm >> old) & 1u) << x;
        }
        g.imm = static_cast<unsigned char>(imm);
        std::swap(g.a, k == 1 ? g.b : g.c);
    }
    return c;
}

template <unsigned S>
inline constexpr bulk::Circuit2 ordered2 = in_register_order(bulk::circuits2[S]);
template <unsigned S>
inline constexpr bulk::Circuit3
    ordered3 = dying_operand_first(in_register_order(bulk::circuits3[S]));

// The inputs gate i reads first (bit k for x_k), and the output bit it
// gives (4 for none).
template <class Circuit> constexpr unsigned first_reads(const Circuit &c, std::size_t i) {
    unsigned before = 0, now = 0;
    for (std::size_t g = 0; g <= i; ++g) {
        auto gate = c.g[g];
        for (unsigned k = 0; k < operand_count(c); ++k) {
            const unsigned a = operand(gate, k);
            if (a < 6)
                (g < i ? before : now) |= 1u << a;
        }
    }
    return now & ~before;
}

template <class Circuit> constexpr unsigned output_of(const Circuit &c, std::size_t i) {
    for (unsigned j = 0; j < 4; ++j)
        if (c.out[j] == bulk::first_gate + i)
            return j;
    return 4;
}

// Both forms of every circuit compute their S-box as searched and as
// reordered, and every output is a gate (which is where it is XORed into l).
template <class Circuit> constexpr bool outputs_are_gates(const Circuit &c) {
    for (unsigned j = 0; j < 4; ++j)
        if (c.out[j] < bulk::first_gate)
            return false;
    return true;
}

template <unsigned S> constexpr bool circuits_compute_sbox() {
    constexpr bulk::Complement k = bulk::complements[S];
    return bulk::computes_sbox(bulk::circuits2[S], S, k) &&
           bulk::computes_sbox(bulk::circuits3[S], S, k) &&
           bulk::computes_sbox(ordered2<S>, S, k) && bulk::computes_sbox(ordered3<S>, S, k) &&
           outputs_are_gates(ordered2<S>) && outputs_are_gates(ordered3<S>) &&
           ordered2<S>.count == bulk::circuits2[S].count &&
           ordered3<S>.count == bulk::circuits3[S].count;
}
static_assert(circuits_compute_sbox<0>() && circuits_compute_sbox<1>());
static_assert(circuits_compute_sbox<2>() && circuits_compute_sbox<3>());
static_assert(circuits_compute_sbox<4>() && circuits_compute_sbox<5>());
static_assert(circuits_compute_sbox<6>() && circuits_compute_sbox<7>());

// ---- Complemented inputs and outputs ---------------------------------------

// The circuits read some S-box inputs complemented and give some outputs
// complemented (bulk::complements); the key masks absorb both. Bit k of
// the result (0-47): whether S-box k / 6 reads x_(k % 6) complemented.
constexpr std::uint64_t complemented_inputs() {
    std::uint64_t bits = 0;
    for (unsigned k = 0; k < 48; ++k)
        bits |= std::uint64_t{(bulk::complements[k / 6].inputs >> (5 - k % 6)) & 1u} << k;
    return bits;
}

// Bit i (0-31): whether slice i of F arrives complemented in l.
constexpr std::uint32_t complemented_f() {
    std::uint32_t bits = 0;
    for (unsigned i = 0; i < 32; ++i) {
        const unsigned s = (perm_p[i] - 1u) / 4, j = (perm_p[i] - 1u) % 4;
        bits |= std::uint32_t{(bulk::complements[s].outputs >> (3 - j)) & 1u} << i;
    }
    return bits;
}

// Bit k (0-47): whether input k of a round reads a complemented slice of
// r, where `half` (bit i for slice i) says which slices are.
constexpr std::uint64_t expanded(std::uint32_t half) {
    std::uint64_t bits = 0;
    for (unsigned k = 0; k < 48; ++k)
        bits |= std::uint64_t{(half >> (expansion[k] - 1u)) & 1u} << k;
    return bits;
}

// The masks complemented in the p-th round a batch runs (0-47). Each round
// XORs F into one half, complemented in the slices of complemented_f(), and
// reads the other: in a stage's rounds 1, 2, 5, 6, ... the half read has
// taken F an odd number of times, in the others an even number, when its
// complements cancel. The round's masks complement what it reads
// complemented, on top of the inputs the circuits want complemented.
constexpr std::uint64_t mask_flips(unsigned p) {
    return complemented_inputs() ^ (p % 4 == 1 || p % 4 == 2 ? expanded(complemented_f()) : 0);
}

// The claims above, followed round by round through a batch's three stages
// of sixteen: every round's masks complement exactly the inputs that reach
// its circuits complemented, and both halves leave every stage as they
// should be (nothing to undo before IP^-1). Decryption runs the masks
// backwards, and round 47 - p is complemented as round p is.
constexpr bool mask_flips_match_rounds() {
    std::uint32_t half[2] = {0, 0}; // complemented slices of the stage's two halves
    for (unsigned stage = 0; stage < 3; ++stage) {
        for (unsigned q = 0; q < 16; ++q) {
            const unsigned written = q % 2, read = 1 - written;
            if (mask_flips(16 * stage + q) != (complemented_inputs() ^ expanded(half[read])))
                return false;
            half[written] ^= complemented_f();
        }
        if (half[0] != 0 || half[1] != 0)
            return false;
    }
    for (unsigned p = 0; p < 48; ++p)
        if (mask_flips(p) != mask_flips(47 - p))
            return false;
    return true;
}
static_assert(mask_flips_match_rounds());

// ---- One round ------------------------------------------------------------

// AND-NOT is one instruction (pandn), but g++ may build a & ~b as an XOR
// with all ones and an AND, which adds NOTs the circuits do not have and
// keeps an all-ones vector in one of the sixteen registers. The builtin is
// the instruction itself; g++ expands it inside the round of its width,
// which is built for that instruction set.
template <bulk::GateOp Op, class Slice>
[[gnu::always_inline]] inline Slice gate(const Slice &a, const Slice &b) {
    if constexpr (Op == bulk::g_and)
        return a & b;
    else if constexpr (Op == bulk::g_or)
        return a | b;
    else if constexpr (Op == bulk::g_xor)
        return a ^ b;
#if VELK_BULK_X86 && !defined(__clang__)
    else if constexpr (sizeof(Slice) == 32)
        return reinterpret_cast<Slice>(
            __builtin_ia32_andnotsi256(reinterpret_cast<__v4di>(b), reinterpret_cast<__v4di>(a)));
#if defined(__SSE2__)
    else if constexpr (sizeof(Slice) == 16)
        return reinterpret_cast<Slice>(
            __builtin_ia32_pandn128(reinterpret_cast<__v2di>(b), reinterpret_cast<__v2di>(a)));
#endif
#endif
    else
        return a & ~b;
}

// Every index is a template argument, so that no compiler is left to find
// out that it is constant: one that does not keeps the whole array in memory.
template <std::size_t N> using At = std::integral_constant<std::size_t, N>;

// The bit of F (0-based) that output bit j of S-box s reaches through P.
constexpr unsigned through_p(unsigned s, unsigned j) {
    for (unsigned i = 0; i < 32; ++i)
        if (perm_p[i] == 4 * s + j + 1)
            return i;
    return 32;
}

// Input x_K of S-box S: its expanded bit of r under its key mask.
template <unsigned S, unsigned K, class Slice>
[[gnu::always_inline]] inline void read_input(Slice *v, const Slice *r, const Mask *k) {
    v[At<K>{}] = r[At<expansion[6 * S + K] - 1>{}] ^ mask<Slice>(k[At<6 * S + K>{}]);
}

template <unsigned S, unsigned Bits, class Slice, std::size_t... K>
[[gnu::always_inline]] inline void read_inputs(Slice *v, const Slice *r, const Mask *k,
                                               std::index_sequence<K...>) {
    ((((Bits >> K) & 1u) != 0 ? read_input<S, K>(v, r, k) : void()), ...);
}

// Gate I of S-box S's two-input circuit, with the inputs it reads first
// before it and its output, if it is one, XORed into l through P after it.
template <unsigned S, std::size_t I, class Slice>
[[gnu::always_inline]] inline void step2(Slice *__restrict l, Slice *v, const Slice *r,
                                         const Mask *k) {
    constexpr auto g = ordered2<S>.g[I];
    read_inputs<S, first_reads(ordered2<S>, I)>(v, r, k, std::make_index_sequence<6>());
    v[At<bulk::first_gate + I>{}] = gate<g.op>(v[At<g.a>{}], v[At<g.b>{}]);
    if constexpr (constexpr unsigned j = output_of(ordered2<S>, I); j < 4)
        l[At<through_p(S, j)>{}] ^= v[At<bulk::first_gate + I>{}];
}

template <unsigned S, class Slice, std::size_t... I>
[[gnu::always_inline]] inline void run_circuit2(Slice *__restrict l, Slice *v, const Slice *r,
                                                const Mask *k, std::index_sequence<I...>) {
    (step2<S, I>(l, v, r, k), ...);
}

// One S-box of a round: l ^= its share of F(r) under the round's masks k.
template <unsigned S, class Slice>
[[gnu::always_inline]] inline void sbox_into(Slice *__restrict l, const Slice *__restrict r,
                                             const Mask *__restrict k) {
    Slice v[bulk::first_gate + ordered2<S>.count];
    v[6] = Slice{};
    v[7] = ~Slice{};
    run_circuit2<S>(l, v, r, k, std::make_index_sequence<ordered2<S>.count>());
}

// One round: l ^= F(r, k), with k the round's 48 key masks.
template <class Slice>
[[gnu::always_inline]] inline void feistel_round(Slice *__restrict l, const Slice *__restrict r,
                                                 const Mask *__restrict k) {
    sbox_into<0>(l, r, k);
    sbox_into<1>(l, r, k);
    sbox_into<2>(l, r, k);
    sbox_into<3>(l, r, k);
    sbox_into<4>(l, r, k);
    sbox_into<5>(l, r, k);
    sbox_into<6>(l, r, k);
    sbox_into<7>(l, r, k);
}

#if VELK_BULK_X86
// The same with the three-input circuits (vpternlog), for the 64-byte
// width. (The compilers inline AVX-512 code only into functions built for
// it, hence the separate copies.)
template <unsigned Imm>
__attribute__((target("avx512f"), always_inline)) inline Slice512
ternary(const Slice512 &a, const Slice512 &b, const Slice512 &c) {
    return reinterpret_cast<Slice512>(_mm512_ternarylogic_epi64(reinterpret_cast<__m512i>(a),
                                                                reinterpret_cast<__m512i>(b),
                                                                reinterpret_cast<__m512i>(c), Imm));
}

template <unsigned S, unsigned K>
__attribute__((target("avx512f"), always_inline)) inline void
read_input3(Slice512 *v, const Slice512 *r, const Mask *k) {
    v[At<K>{}] = r[At<expansion[6 * S + K] - 1>{}] ^ (Slice512{} + k[At<6 * S + K>{}][0]);
}

template <unsigned S, unsigned Bits, std::size_t... K>
__attribute__((target("avx512f"), always_inline)) inline void
read_inputs3(Slice512 *v, const Slice512 *r, const Mask *k, std::index_sequence<K...>) {
    ((((Bits >> K) & 1u) != 0 ? read_input3<S, K>(v, r, k) : void()), ...);
}

template <unsigned S, std::size_t I>
__attribute__((target("avx512f"), always_inline)) inline void
step3(Slice512 *__restrict l, Slice512 *v, const Slice512 *r, const Mask *k) {
    constexpr auto g = ordered3<S>.g[I];
    read_inputs3<S, first_reads(ordered3<S>, I)>(v, r, k, std::make_index_sequence<6>());
    v[At<bulk::first_gate + I>{}] = ternary<g.imm>(v[At<g.a>{}], v[At<g.b>{}], v[At<g.c>{}]);
    if constexpr (constexpr unsigned j = output_of(ordered3<S>, I); j < 4)
        l[At<through_p(S, j)>{}] ^= v[At<bulk::first_gate + I>{}];
}

template <unsigned S, std::size_t... I>
__attribute__((target("avx512f"), always_inline)) inline void
run_circuit3(Slice512 *__restrict l, Slice512 *v, const Slice512 *r, const Mask *k,
             std::index_sequence<I...>) {
    (step3<S, I>(l, v, r, k), ...);
}

template <unsigned S>
__attribute__((target("avx512f"), always_inline)) inline void
sbox_into3(Slice512 *__restrict l, const Slice512 *__restrict r, const Mask *__restrict k) {
    Slice512 v[bulk::first_gate + ordered3<S>.count];
    v[6] = Slice512{};
    v[7] = ~Slice512{};
    run_circuit3<S>(l, v, r, k, std::make_index_sequence<ordered3<S>.count>());
}

__attribute__((target("avx512f"), always_inline)) inline void
feistel_round3(Slice512 *__restrict l, const Slice512 *__restrict r, const Mask *__restrict k) {
    sbox_into3<0>(l, r, k);
    sbox_into3<1>(l, r, k);
    sbox_into3<2>(l, r, k);
    sbox_into3<3>(l, r, k);
    sbox_into3<4>(l, r, k);
    sbox_into3<5>(l, r, k);
    sbox_into3<6>(l, r, k);
    sbox_into3<7>(l, r, k);
}
#endif

// One round of each width, out of line: the 48 rounds of a batch share one
// copy of the code.
void width_round(Slice128 *__restrict l, const Slice128 *__restrict r, const Mask *__restrict k) {
    feistel_round(l, r, k);
}

#if VELK_BULK_X86
__attribute__((target("avx2"))) void
width_round(Slice256 *__restrict l, const Slice256 *__restrict r, const Mask *__restrict k) {
    feistel_round(l, r, k);
}

__attribute__((target("avx512f"))) void
width_round(Slice512 *__restrict l, const Slice512 *__restrict r, const Mask *__restrict k) {
    feistel_round3(l, r, k);
}
#endif

// Sixteen rounds, two per pass, as in the one-block transform; `step` is
// +48 or -48 masks from one round to the next.
template <class Slice>
[[gnu::always_inline]] inline void stage(Slice *a, Slice *b, const Mask *k, std::ptrdiff_t step) {
    for (unsigned pass = 0; pass < 8; ++pass, k += 2 * step) {
        width_round(a, b, k);
        width_round(b, a, k + step);
    }
}

// ---- Turning a batch on its side -------------------------------------------

// Transposes the 64 x 64 bit matrix held in each lane: row i, column c (bit
// 63 - c) changes places with row c, column i. Six rounds of exchanges, each
// swapping the off-diagonal quarters of blocks half the size of the last.
template <class Slice> [[gnu::always_inline]] inline void transpose(Slice *a) {
    std::uint64_t m = 0x00000000FFFFFFFFu;
    for (unsigned j = 32; j != 0; j >>= 1, m ^= m << j) {
        for (unsigned k = 0; k < 64; k = (k + j + 1) & ~j) {
            const Slice t = (a[k] ^ (a[k + j] >> j)) & m;
            a[k] ^= t;
            a[k + j] ^= t << j;
        }
    }
}

// Where a batch's blocks sit: vector i holds blocks lanes * i to
// lanes * i + lanes - 1, one per lane, just as they lie in memory, so that a
// batch is read and written as whole vectors. Each block is then read as one
// native 64-bit word, which on a little-endian processor holds the block's
// eight bytes in reverse order; after the transposition, the slice of block
// bit b (0-based from the first byte's top bit) is b ^ 56 there instead of b.
// The permutations pick their slices through this index, so the reversal
// costs nothing.
constexpr unsigned slice_of_bit(unsigned b) {
    return std::endian::native == std::endian::little ? b ^ 56 : b;
}
static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

// The n blocks at `in` (n at most one batch) into vectors, the rest of the
// batch zero blocks.
template <class Slice>
[[gnu::always_inline]] inline void load_batch(Slice *a, const unsigned char *in, std::size_t n) {
    const std::size_t whole = n / lanes<Slice>;
    for (std::size_t i = 0; i < whole; ++i)
        std::memcpy(&a[i], in + sizeof(Slice) * i, sizeof(Slice));
    for (std::size_t i = whole; i < 64; ++i)
        a[i] = Slice{};
    if (const std::size_t rest = n % lanes<Slice>)
        std::memcpy(&a[whole], in + sizeof(Slice) * whole, 8 * rest);
}

// The cipher blocks first - 1 to first + count - 2 as one vector (count at
// most lanes), `chain` standing in for the block before block 0: what CBC
// decryption XORs into the blocks first to first + count - 1.
template <class Slice>
[[gnu::always_inline]] inline Slice previous_blocks(const unsigned char *in, std::size_t first,
                                                    std::size_t count, const unsigned char *chain) {
    Slice p{};
    if (first > 0 && count == lanes<Slice>) {
        std::memcpy(&p, in + 8 * (first - 1), sizeof p);
        return p;
    }
    unsigned char bytes[sizeof(Slice)] = {};
    std::memcpy(bytes, first > 0 ? in + 8 * (first - 1) : chain, 8);
    std::memcpy(bytes + 8, in + 8 * first, 8 * (count - 1));
    std::memcpy(&p, bytes, sizeof p);
    return p;
}

// Transforms the n blocks at `in` (n <= one batch; the rest of the batch is
// zero blocks whose results are dropped) under the 48 rounds of masks km and
// writes them to `out`. The initial permutation is the choice of slices for
// L and R, and the inverse permutation the choice of where each slice of
// R48 || L48 goes; between the stages, IP and IP^-1 cancel and only the
// exchange of the halves remains, which is a change of roles.
//
// Every input block is read before the first output block is written, so
// `out` may be `in`. With `chain` (CBC decryption), each vector of output
// blocks is also XORed with the input read one block earlier, `chain` before
// the first; the vectors are written from the last down, so that each still
// finds the cipher blocks before it in place.
template <class Slice>
[[gnu::always_inline]] inline void run_batch(const unsigned char *in, unsigned char *out,
                                             std::size_t n, const Mask *km, bool decrypt,
                                             const unsigned char *chain) {
    Slice a[64];
    load_batch(a, in, n);
    transpose(a);
    Slice l[32], r[32];
    for (unsigned i = 0; i < 32; ++i) {
        l[i] = a[slice_of_bit(initial_perm[i] - 1)];
        r[i] = a[slice_of_bit(initial_perm[32 + i] - 1)];
    }
    // Decryption runs the encryption's rounds backwards.
    const std::ptrdiff_t step = decrypt ? -48 : 48;
    const Mask *k = decrypt ? km + 47 * 48 : km;
    stage<Slice>(l, r, k, step);
    stage<Slice>(r, l, k + 16 * step, step);
    stage<Slice>(l, r, k + 32 * step, step);
    for (unsigned i = 0; i < 64; ++i)
        a[slice_of_bit(initial_perm[i] - 1)] = i < 32 ? r[i] : l[i - 32];
    transpose(a);
    for (std::size_t i = (n + lanes<Slice> - 1) / lanes<Slice>; i-- > 0;) {
        const std::size_t first = lanes<Slice> * i;
        const std::size_t count = std::min(lanes<Slice>, n - first);
        Slice v = a[i];
        if (chain)
            v ^= previous_blocks<Slice>(in, first, count, chain);
        if (count == lanes<Slice>)
            std::memcpy(out + 8 * first, &v, sizeof v);
        else
            std::memcpy(out + 8 * first, &v, 8 * count);
    }
    secure_wipe(a, sizeof a);
    secure_wipe(l, sizeof l);
    secure_wipe(r, sizeof r);
}

// The blocks in batches of one width; with `chain` (CBC decryption) each
// batch's last cipher block, kept before the batch may overwrite it, chains
// the next.
template <class Slice>
[[gnu::always_inline]] inline void batches(const Ede3BulkKey &key, const unsigned char *in,
                                           unsigned char *out, std::size_t blocks, bool decrypt,
                                           unsigned char *chain) {
    while (blocks > 0) {
        const std::size_t n = std::min(blocks, batch_blocks<Slice>);
        unsigned char last[8] = {};
        if (chain)
            std::memcpy(last, in + 8 * (n - 1), 8);
        run_batch<Slice>(in, out, n, key.masks, decrypt, chain);
        if (chain)
            std::memcpy(chain, last, 8);
        in += 8 * n;
        out += 8 * n;
        blocks -= n;
    }
}

void batches128(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                std::size_t blocks, bool decrypt, unsigned char *chain) {
    batches<Slice128>(key, in, out, blocks, decrypt, chain);
}

#if VELK_BULK_X86
__attribute__((target("avx2"))) void batches256(const Ede3BulkKey &key, const unsigned char *in,
                                                unsigned char *out, std::size_t blocks,
                                                bool decrypt, unsigned char *chain) {
    batches<Slice256>(key, in, out, blocks, decrypt, chain);
}

__attribute__((target("avx512f"))) void batches512(const Ede3BulkKey &key, const unsigned char *in,
                                                   unsigned char *out, std::size_t blocks,
                                                   bool decrypt, unsigned char *chain) {
    batches<Slice512>(key, in, out, blocks, decrypt, chain);
}
#endif

// One block at a time through the triple stages, for short runs.
// The few blocks a call has beyond its batches take the constant-time
// rounds and the exchange networks, so that the many-block path looks
// nothing up by key or data in any build, its tails included.
void ct_block(const Ede3BulkKey &key, const unsigned char in[8], unsigned char out[8],
              bool decrypt) {
    std::uint32_t l = load_be32(in), r = load_be32(in + 4);
    initial_permutation(l, r);
    if (!decrypt) {
        ct::encrypt_rounds(l, r, key.k1);
        ct::decrypt_rounds(r, l, key.k2);
        ct::encrypt_rounds(l, r, key.k3);
    } else {
        ct::decrypt_rounds(l, r, key.k3);
        ct::encrypt_rounds(r, l, key.k2);
        ct::decrypt_rounds(l, r, key.k1);
    }
    final_permutation(l, r);
    store_be32(out, r);
    store_be32(out + 4, l);
}

void one_by_one(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                std::size_t blocks, bool decrypt, unsigned char *chain) {
    for (std::size_t i = 0; i < blocks; ++i, in += 8, out += 8) {
        unsigned char cipher[8];
        std::memcpy(cipher, in, 8);
        ct_block(key, in, out, decrypt);
        if (decrypt && chain) {
            for (int b = 0; b < 8; ++b)
                out[b] = static_cast<unsigned char>(out[b] ^ chain[b]);
            std::memcpy(chain, cipher, 8);
        }
    }
}

using bulk_width::Width;

// Blocks per batch, and the time of one batch (a partial one costs nearly
// as much) in times of one block through the constant-time rounds, as the
// benchmark velk_bulk_ede3_ecb_encrypt_width measures them (bench/README.md).
// A processor whose figures differ only moves the crossover between one
// block at a time and a partial batch (about ten blocks) a little.
struct WidthInfo {
    Width width;
    std::size_t batch;
    std::size_t cost;
};
constexpr WidthInfo width_info[] = {
    {Width::one_block, 1, 1},
    {Width::sse2, 128, 12},
    {Width::avx2, 256, 11},
    {Width::avx512, 512, 10},
};

} // namespace

void bulk_width::run(Width w, const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                     std::size_t blocks, bool decrypt, unsigned char *chain) {
    switch (w) {
    case Width::one_block:
        one_by_one(key, in, out, blocks, decrypt, chain);
        return;
#if VELK_BULK_X86
    case Width::avx2:
        batches256(key, in, out, blocks, decrypt, chain);
        return;
    case Width::avx512:
        batches512(key, in, out, blocks, decrypt, chain);
        return;
#endif
    default:
        batches128(key, in, out, blocks, decrypt, chain);
        return;
    }
}

namespace {

// Whole batches in the chosen width; what is left over in whichever width
// up to it (or one block at a time) costs least for that many blocks.
void independent_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                        std::size_t blocks, bool decrypt, unsigned char *chain) {
    if (blocks == 0)
        return;
    const Width top = bulk_width::chosen();
    const std::size_t batch = width_info[static_cast<int>(top)].batch;
    const std::size_t whole = blocks / batch * batch;
    bulk_width::run(top, key, in, out, whole, decrypt, chain);
    const std::size_t rest = blocks - whole;
    if (rest == 0)
        return;
    Width best = Width::one_block;
    std::size_t best_cost = rest;
    for (const WidthInfo &wi : width_info)
        if (wi.width <= top && bulk_width::available(wi.width)) {
            const std::size_t cost = (rest + wi.batch - 1) / wi.batch * wi.cost;
            if (cost < best_cost) {
                best = wi.width;
                best_cost = cost;
            }
        }
    bulk_width::run(best, key, in + 8 * whole, out + 8 * whole, rest, decrypt, chain);
}

} // namespace

Ede3BulkKey::Ede3BulkKey(const des_subkeys ks1, const des_subkeys ks2,
                         const des_subkeys ks3) noexcept {
    std::memcpy(k1, ks1, sizeof k1);
    std::memcpy(k2, ks2, sizeof k2);
    std::memcpy(k3, ks3, sizeof k3);
    // E_K1 in schedule order, D_K2 in reverse, E_K3 in order.
    const std::uint32_t *const ks[3] = {k1, k2, k3};
    for (unsigned i = 0; i < 48; ++i) {
        const unsigned round = i / 16 == 1 ? 15 - i % 16 : i % 16;
        const std::uint32_t *s = ks[i / 16];
        const std::uint64_t pair = std::uint64_t{s[2 * round]} << 32 | s[2 * round + 1];
        const std::uint64_t flips = mask_flips(i);
        for (unsigned k = 0; k < 48; ++k) {
            const std::uint64_t m = 0 - (((pair >> schedule_position(k)) ^ (flips >> k)) & 1u);
            for (std::uint64_t &word : masks[48 * i + k])
                word = m;
        }
    }
}

Ede3BulkKey::~Ede3BulkKey() {
    secure_wipe(masks, sizeof masks);
    secure_wipe(k1, sizeof k1);
    secure_wipe(k2, sizeof k2);
    secure_wipe(k3, sizeof k3);
}

void ede3_encrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                         std::size_t blocks) {
    independent_blocks(key, in, out, blocks, false, nullptr);
}

void ede3_decrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                         std::size_t blocks) {
    independent_blocks(key, in, out, blocks, true, nullptr);
}

void ede3_cbc_decrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                             std::size_t blocks, unsigned char chain[8]) {
    independent_blocks(key, in, out, blocks, true, chain);
}

// The permutations are linear and IP undoes the closing FP-and-exchange, so
// IP(P_i XOR C_(i-1)) = IP(P_i) XOR (the halves that produced C_(i-1), in
// exchanged order): the chain runs from one block's last round to the next
// block's first without passing through either permutation, and each block's
// own IP and FP are off that path.
void ede3_cbc_encrypt_blocks(const Ede3BulkKey &key, const unsigned char *in, unsigned char *out,
                             std::size_t blocks, unsigned char chain[8]) {
    if (blocks == 0)
        return;
    std::uint32_t cl = load_be32(chain), cr = load_be32(chain + 4);
    initial_permutation(cl, cr);
    std::uint32_t hi = 0, lo = 0;
    for (std::size_t i = 0; i < blocks; ++i, in += 8, out += 8) {
        std::uint32_t l = load_be32(in), r = load_be32(in + 4);
        initial_permutation(l, r);
        l ^= cl;
        r ^= cr;
        stages<Stage::encrypt, Stage::decrypt, Stage::encrypt>(l, r, key.k1, key.k2, key.k3);
        cl = r;
        cr = l;
        final_permutation(l, r);
        hi = r;
        lo = l;
        store_be32(out, hi);
        store_be32(out + 4, lo);
    }
    store_be32(chain, hi);
    store_be32(chain + 4, lo);
}

namespace bulk_width {

bool available(Width w) {
    switch (w) {
    case Width::one_block:
    case Width::sse2:
        return true;
#if VELK_BULK_X86
    case Width::avx2:
        return cpu::has(cpu::avx2);
    case Width::avx512:
        return cpu::has(cpu::avx512f);
#endif
    default:
        return false;
    }
}

// Read at every call rather than cached, so that the engine keeps no
// writable state of its own: the processor's features are the library's one
// cached word, and the few comparisons cost nothing beside a batch.
Width chosen() {
    Width w = Width::sse2;
    for (Width wider : {Width::avx2, Width::avx512})
        if (available(wider))
            w = wider;
    if (const char *cap = std::getenv("VELK_BULK_WIDTH")) {
        const struct {
            const char *name;
            Width width;
        } names[] = {{"one_block", Width::one_block},
                     {"sse2", Width::sse2},
                     {"avx2", Width::avx2},
                     {"avx512", Width::avx512}};
        for (const auto &n : names)
            if (std::strcmp(cap, n.name) == 0)
                w = std::min(w, n.width);
    }
    return w;
}

} // namespace bulk_width

} // namespace velk
