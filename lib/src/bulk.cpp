// Three-key EDE over many blocks, bitsliced: a batch of blocks is turned on
// its side so that one vector holds one bit position of every block, and the
// cipher then runs as a fixed sequence of AND, OR, XOR and AND-NOT on whole
// vectors. The permutations become a choice of which vector to use, the
// S-boxes become logic circuits, and no table is indexed by data.
#include "bulk.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "block.hpp"
#include "sbox_circuits.hpp"
#include "tables.hpp"

// The helpers below take and return 32-byte vectors by value. They are all
// inlined into functions built for AVX2, so no call ever crosses the ABI that
// GCC warns about.
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
// belongs to block 64 * lane + i. Two 64-bit lanes make a 16-byte vector,
// which every x86-64 processor runs with SSE2 and other targets as they can;
// where the processor has AVX2 (asked at run time), four lanes make a 32-byte
// vector and a batch twice the size. The code is the same for both widths.
using Slice128 = std::uint64_t __attribute__((vector_size(16)));
using Slice256 = std::uint64_t __attribute__((vector_size(32)));

template <class Slice> constexpr std::size_t lanes = sizeof(Slice) / sizeof(std::uint64_t);
template <class Slice> constexpr std::size_t batch_blocks = 64 * lanes<Slice>;

// The wider batches need the target attribute and the run-time processor
// check of GCC and Clang on x86.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VELK_BULK_AVX2 1
#else
#define VELK_BULK_AVX2 0
#endif

// Key bit masks for the 48 rounds of a triple block, 48 per round, in the
// order the rounds use them.
constexpr std::size_t mask_count = 48 * 48;

// ---- S-boxes as circuits -------------------------------------------------
//
// Each S-box is a straight-line circuit of AND, OR, XOR and AND-NOT found by
// the search in gen_sbox_circuits.cpp (sbox_circuits.hpp, checked below on
// all 64 inputs). The values of a circuit live in one array indexed by
// constants, so the compiler keeps them in registers.

template <bulk::GateOp Op, class Slice>
[[gnu::always_inline]] inline Slice gate(const Slice &a, const Slice &b) {
    if constexpr (Op == bulk::g_and)
        return a & b;
    else if constexpr (Op == bulk::g_or)
        return a | b;
    else if constexpr (Op == bulk::g_xor)
        return a ^ b;
    else
        return a & ~b;
}

template <unsigned S, class Slice, std::size_t... I>
[[gnu::always_inline]] inline void run_circuit(Slice *v, std::index_sequence<I...>) {
    constexpr const bulk::Circuit2 &c = bulk::circuits2[S];
    ((v[bulk::first_gate + I] = gate<c.g[I].op>(v[c.g[I].a], v[c.g[I].b])), ...);
}

template <unsigned S> constexpr bool circuits_compute_sboxes() {
    return bulk::computes_sbox(bulk::circuits2[S], S) && bulk::computes_sbox(bulk::circuits3[S], S);
}
static_assert(circuits_compute_sboxes<0>() && circuits_compute_sboxes<1>());
static_assert(circuits_compute_sboxes<2>() && circuits_compute_sboxes<3>());
static_assert(circuits_compute_sboxes<4>() && circuits_compute_sboxes<5>());
static_assert(circuits_compute_sboxes<6>() && circuits_compute_sboxes<7>());

// The bit of F (0-based) that output bit j of S-box s reaches through P.
constexpr unsigned through_p(unsigned s, unsigned j) {
    for (unsigned i = 0; i < 32; ++i)
        if (perm_p[i] == 4 * s + j + 1)
            return i;
    return 32;
}

// One S-box of a round: l ^= its share of F(r) under the key masks k.
template <unsigned S, class Slice>
[[gnu::always_inline]] inline void sbox_into(Slice *__restrict l, const Slice *__restrict r,
                                             const Slice *__restrict k) {
    Slice v[bulk::first_gate + bulk::circuits2[S].count];
    for (unsigned i = 0; i < 6; ++i)
        v[i] = r[expansion[6 * S + i] - 1] ^ k[6 * S + i];
    v[6] = Slice{};
    v[7] = ~Slice{};
    run_circuit<S>(v, std::make_index_sequence<bulk::circuits2[S].count>());
    constexpr const unsigned char *out = bulk::circuits2[S].out;
    l[through_p(S, 0)] ^= v[out[0]];
    l[through_p(S, 1)] ^= v[out[1]];
    l[through_p(S, 2)] ^= v[out[2]];
    l[through_p(S, 3)] ^= v[out[3]];
}

// One round: l ^= F(r, k), with k the round's 48 key masks.
template <class Slice>
[[gnu::always_inline]] inline void feistel_round(Slice *__restrict l, const Slice *__restrict r,
                                                 const Slice *__restrict k) {
    sbox_into<0>(l, r, k);
    sbox_into<1>(l, r, k);
    sbox_into<2>(l, r, k);
    sbox_into<3>(l, r, k);
    sbox_into<4>(l, r, k);
    sbox_into<5>(l, r, k);
    sbox_into<6>(l, r, k);
    sbox_into<7>(l, r, k);
}

// One round of each width, out of line: the 48 rounds of a batch share one
// copy of the code.
void width_round(Slice128 *__restrict l, const Slice128 *__restrict r,
                 const Slice128 *__restrict k) {
    feistel_round(l, r, k);
}

#if VELK_BULK_AVX2
__attribute__((target("avx2"))) void
width_round(Slice256 *__restrict l, const Slice256 *__restrict r, const Slice256 *__restrict k) {
    feistel_round(l, r, k);
}
#endif

// Sixteen rounds, two per pass, as in the one-block transform.
template <class Slice>
[[gnu::always_inline]] inline void stage(Slice *a, Slice *b, const Slice *km) {
    for (unsigned pass = 0; pass < 8; ++pass, km += 96) {
        width_round(a, b, km);
        width_round(b, a, km + 48);
    }
}

// ---- Key masks -----------------------------------------------------------

// Appends the 16 rounds of one stage: subkey bit k of each round as a mask of
// all ones or all zeros, the rounds in schedule order or reversed.
template <class Slice>
[[gnu::always_inline]] inline Slice *append_stage_masks(Slice *km, const std::uint32_t *ks,
                                                        bool reversed) {
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned round = reversed ? 15 - i : i;
        const std::uint64_t pair = std::uint64_t{ks[2 * round]} << 32 | ks[2 * round + 1];
        for (unsigned k = 0; k < 48; ++k) {
            const std::uint64_t bit = (pair >> schedule_position(k)) & 1u;
            *km++ = Slice{} - bit;
        }
    }
    return km;
}

template <class Slice>
[[gnu::always_inline]] inline void encrypt_masks(Slice *km, const std::uint32_t *k1,
                                                 const std::uint32_t *k2, const std::uint32_t *k3) {
    km = append_stage_masks(km, k1, false);
    km = append_stage_masks(km, k2, true);
    append_stage_masks(km, k3, false);
}

template <class Slice>
[[gnu::always_inline]] inline void decrypt_masks(Slice *km, const std::uint32_t *k1,
                                                 const std::uint32_t *k2, const std::uint32_t *k3) {
    km = append_stage_masks(km, k3, true);
    km = append_stage_masks(km, k2, false);
    append_stage_masks(km, k1, true);
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

inline std::uint64_t load_be64(const unsigned char *p) {
    return std::uint64_t{load_be32(p)} << 32 | load_be32(p + 4);
}

inline void store_be64(unsigned char *p, std::uint64_t v) {
    store_be32(p, static_cast<std::uint32_t>(v >> 32));
    store_be32(p + 4, static_cast<std::uint32_t>(v));
}

// Transforms the n blocks at `in` (n <= one batch; the rest of the batch is
// zero blocks whose results are dropped) under the 48 rounds of masks km and
// writes them to `out`. The initial permutation is the choice of slices for
// L and R, and the inverse permutation the choice of where each slice of
// R48 || L48 goes; between the stages, IP and IP^-1 cancel and only the
// exchange of the halves remains, which is a change of roles.
//
// Every input block is read before the first output block is written, so
// `out` may be `in`. With `chain` (CBC decryption), block b is also XORed
// with the cipher block before it, `chain` for the first; the blocks are
// written from the last down, so that each still finds the cipher block
// before it in place.
template <class Slice>
[[gnu::always_inline]] inline void run_batch(const unsigned char *in, unsigned char *out,
                                             std::size_t n, const Slice *km,
                                             const unsigned char *chain) {
    Slice a[64];
    for (std::size_t i = 0; i < 64; ++i)
        for (std::size_t lane = 0; lane < lanes<Slice>; ++lane) {
            const std::size_t b = 64 * lane + i;
            a[i][lane] = b < n ? load_be64(in + 8 * b) : 0;
        }
    transpose(a);
    Slice l[32], r[32];
    for (unsigned i = 0; i < 32; ++i) {
        l[i] = a[initial_perm[i] - 1];
        r[i] = a[initial_perm[32 + i] - 1];
    }
    stage<Slice>(l, r, km);
    stage<Slice>(r, l, km + 16 * 48);
    stage<Slice>(l, r, km + 32 * 48);
    for (unsigned i = 0; i < 64; ++i)
        a[initial_perm[i] - 1] = i < 32 ? r[i] : l[i - 32];
    transpose(a);
    for (std::size_t b = n; b-- > 0;) {
        std::uint64_t v = a[b % 64][b / 64];
        if (chain)
            v ^= load_be64(b == 0 ? chain : in + 8 * (b - 1));
        store_be64(out + 8 * b, v);
    }
}

// The exchange network of the one-block transform and the printed IP agree
// bit for bit (the network leaves both halves rotated left by one).
constexpr bool network_matches_initial_perm() {
    for (unsigned j = 0; j < 64; ++j) {
        std::uint32_t l = j < 32 ? 1u << (31 - j) : 0, r = j < 32 ? 0 : 1u << (63 - j);
        initial_permutation(l, r);
        l = rotr(l, 1);
        r = rotr(r, 1);
        for (unsigned i = 0; i < 64; ++i) {
            const bool set = ((i < 32 ? l >> (31 - i) : r >> (63 - i)) & 1u) != 0;
            if (set != (initial_perm[i] == j + 1))
                return false;
        }
    }
    return true;
}
static_assert(network_matches_initial_perm());

// ECB, batch by batch.
template <class Slice>
[[gnu::always_inline]] inline void
ecb_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks, const std::uint32_t *k1,
           const std::uint32_t *k2, const std::uint32_t *k3, bool decrypt) {
    Slice km[mask_count];
    if (decrypt)
        decrypt_masks(km, k1, k2, k3);
    else
        encrypt_masks(km, k1, k2, k3);
    while (blocks > 0) {
        const std::size_t n = std::min(blocks, batch_blocks<Slice>);
        run_batch<Slice>(in, out, n, km, nullptr);
        in += 8 * n;
        out += 8 * n;
        blocks -= n;
    }
}

// CBC decryption, batch by batch; each batch's last cipher block, kept before
// the batch may overwrite it, chains the next.
template <class Slice>
[[gnu::always_inline]] inline void
cbc_decrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                   unsigned char chain[8], const std::uint32_t *k1, const std::uint32_t *k2,
                   const std::uint32_t *k3) {
    Slice km[mask_count];
    decrypt_masks(km, k1, k2, k3);
    while (blocks > 0) {
        const std::size_t n = std::min(blocks, batch_blocks<Slice>);
        unsigned char last[8];
        std::memcpy(last, in + 8 * (n - 1), 8);
        run_batch<Slice>(in, out, n, km, chain);
        std::memcpy(chain, last, 8);
        in += 8 * n;
        out += 8 * n;
        blocks -= n;
    }
}

} // namespace

namespace bulk_width {

void ede3_ecb_baseline(const unsigned char *in, unsigned char *out, std::size_t blocks,
                       const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3,
                       bool decrypt) {
    ecb_blocks<Slice128>(in, out, blocks, k1, k2, k3, decrypt);
}

void ede3_cbc_decrypt_baseline(const unsigned char *in, unsigned char *out, std::size_t blocks,
                               unsigned char chain[8], const std::uint32_t *k1,
                               const std::uint32_t *k2, const std::uint32_t *k3) {
    cbc_decrypt_blocks<Slice128>(in, out, blocks, chain, k1, k2, k3);
}

#if VELK_BULK_AVX2
__attribute__((target("avx2"))) void ede3_ecb_wide(const unsigned char *in, unsigned char *out,
                                                   std::size_t blocks, const std::uint32_t *k1,
                                                   const std::uint32_t *k2, const std::uint32_t *k3,
                                                   bool decrypt) {
    ecb_blocks<Slice256>(in, out, blocks, k1, k2, k3, decrypt);
}

__attribute__((target("avx2"))) void
ede3_cbc_decrypt_wide(const unsigned char *in, unsigned char *out, std::size_t blocks,
                      unsigned char chain[8], const std::uint32_t *k1, const std::uint32_t *k2,
                      const std::uint32_t *k3) {
    cbc_decrypt_blocks<Slice256>(in, out, blocks, chain, k1, k2, k3);
}

// The run-time library fills in the processor's features before main runs;
// asking reads them and writes nothing.
bool wide_available() {
    return __builtin_cpu_supports("avx2");
}
#else
void ede3_ecb_wide(const unsigned char *in, unsigned char *out, std::size_t blocks,
                   const std::uint32_t *k1, const std::uint32_t *k2, const std::uint32_t *k3,
                   bool decrypt) {
    ede3_ecb_baseline(in, out, blocks, k1, k2, k3, decrypt);
}

void ede3_cbc_decrypt_wide(const unsigned char *in, unsigned char *out, std::size_t blocks,
                           unsigned char chain[8], const std::uint32_t *k1, const std::uint32_t *k2,
                           const std::uint32_t *k3) {
    ede3_cbc_decrypt_baseline(in, out, blocks, chain, k1, k2, k3);
}

bool wide_available() {
    return false;
}
#endif

} // namespace bulk_width

namespace {

void ecb(const unsigned char *in, unsigned char *out, std::size_t blocks, const std::uint32_t *k1,
         const std::uint32_t *k2, const std::uint32_t *k3, bool decrypt) {
    if (blocks == 0)
        return;
    if (bulk_width::wide_available())
        bulk_width::ede3_ecb_wide(in, out, blocks, k1, k2, k3, decrypt);
    else
        bulk_width::ede3_ecb_baseline(in, out, blocks, k1, k2, k3, decrypt);
}

} // namespace

void ede3_encrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                         const std::uint32_t *k1, const std::uint32_t *k2,
                         const std::uint32_t *k3) {
    ecb(in, out, blocks, k1, k2, k3, false);
}

void ede3_decrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                         const std::uint32_t *k1, const std::uint32_t *k2,
                         const std::uint32_t *k3) {
    ecb(in, out, blocks, k1, k2, k3, true);
}

void ede3_cbc_decrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                             unsigned char chain[8], const std::uint32_t *k1,
                             const std::uint32_t *k2, const std::uint32_t *k3) {
    if (blocks == 0)
        return;
    if (bulk_width::wide_available())
        bulk_width::ede3_cbc_decrypt_wide(in, out, blocks, chain, k1, k2, k3);
    else
        bulk_width::ede3_cbc_decrypt_baseline(in, out, blocks, chain, k1, k2, k3);
}

// Between the stages the inverse and the initial permutation cancel, leaving
// the exchange of the halves, so each stage takes them in the other order.
// The permutations are linear and IP undoes the closing FP-and-exchange, so
// IP(P_i XOR C_(i-1)) = IP(P_i) XOR (the halves that produced C_(i-1), in
// exchanged order): the chain runs from one block's last round to the next
// block's first without passing through either permutation, and each block's
// own IP and FP are off that path.
void ede3_cbc_encrypt_blocks(const unsigned char *in, unsigned char *out, std::size_t blocks,
                             unsigned char chain[8], const std::uint32_t *k1,
                             const std::uint32_t *k2, const std::uint32_t *k3) {
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
        encrypt_rounds(l, r, k1);
        decrypt_rounds(r, l, k2);
        encrypt_rounds(l, r, k3);
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

} // namespace velk
