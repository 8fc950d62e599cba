// SPDX-License-Identifier: MIT
// velkcore.hpp: a thin C++20 interface over the C functions of velkcore.h.
//
// Everything here is inline and calls the same exported C functions; nothing
// new is exported and nothing is allocated. Keys, blocks, chaining values and
// registers are fixed-extent spans, so a buffer of the wrong size does not
// compile; a key known only at run time goes through `from_bytes`, which
// checks its length. Stream data (CFB and OFB) is any contiguous range of
// bytes; an output shorter than its input is refused in every build, at
// compile time when both sizes are fixed and otherwise by a `false` result
// with nothing written.
//
// The schedules are plain values: copy them, keep them in containers, share
// them between threads for reading. Each clears its subkeys when it is
// destroyed. Like the C functions, nothing validates a key or refuses a weak
// one; the key class is only reported.
//
// Beyond the C functions: three-key triple DES in the encrypt-decrypt-encrypt
// form (Ede3Schedule), key check values, DES key parity, and the CBC-MAC and
// retail MAC of ISO/IEC 9797-1, all built on the exported single-DES and
// triple-DES functions.
#ifndef VELKCORE_HPP
#define VELKCORE_HPP

// std::span, concepts and requires-clauses are C++20; an older language mode
// would fail later with errors about them that do not say why.
#if !defined(__cplusplus) ||                                                                       \
    (__cplusplus <= 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG > 201703L))
#error "velkcore.hpp needs C++20 (e.g. -std=c++20); from C or older C++ use velkcore.h"
#else

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "velkcore.h"

namespace velk {

// What a set-up reports about its keys. The triple set-ups OR the classes of
// their keys, so `weak_and_semiweak` means one key of each kind.
enum class KeyClass : int {
    normal = DES_KEY_NORMAL,
    weak = DES_KEY_WEAK,
    semiweak = DES_KEY_SEMIWEAK,
    weak_and_semiweak = DES_KEY_WEAK | DES_KEY_SEMIWEAK,
};

using Block = std::array<unsigned char, 8>;
using BlockIn = std::span<const unsigned char, 8>;
using BlockOut = std::span<unsigned char, 8>;
// A CFB or OFB shift register: rewritten by every call, one per stream.
using Register = std::span<unsigned char, 8>;
using BytesIn = std::span<const unsigned char>;
using BytesOut = std::span<unsigned char>;

namespace detail {

// The C stream functions count in 32 bits; a longer span goes in pieces,
// which gives the same bytes because a stream may be cut at any byte. An
// output shorter than the input is refused before the first piece: false,
// nothing written, the register untouched. (`Piece` is a parameter only so
// that the cutting can be tested on short data.)
inline constexpr std::size_t max_piece = UINT32_MAX;
template <std::size_t Piece = max_piece, class Step>
bool in_pieces(BytesIn in, BytesOut out, Step step) noexcept {
    static_assert(Piece >= 1 && Piece <= max_piece);
    if (out.size() < in.size())
        return false;
    for (std::size_t done = 0; done < in.size();) {
        const std::size_t n = std::min(Piece, in.size() - done);
        step(in.data() + done, out.data() + done, static_cast<std::uint32_t>(n));
        done += n;
    }
    return true;
}

// The extent of the span an R makes, or dynamic_extent when it makes none.
template <class R> constexpr std::size_t static_extent() noexcept {
    if constexpr (requires(R &r) { std::span(r); })
        return decltype(std::span(std::declval<R &>()))::extent;
    else
        return std::dynamic_extent;
}

// Stream arguments whose sizes are both fixed, the output the shorter: the
// stream members have a deleted overload for them, so such a call does not
// compile instead of failing at run time.
template <class I, class O>
concept short_fixed_output =
    std::convertible_to<I, BytesIn> && std::convertible_to<O, BytesOut> &&
    static_extent<I>() != std::dynamic_extent && static_extent<O>() != std::dynamic_extent &&
    static_extent<O>() < static_extent<I>();

// Sets `size` bytes at `p` to zero, even when nothing reads them again: a
// memset there is a dead store to the optimiser and may vanish, so an empty
// statement that may read the memory follows it; a compiler without GNU
// asm stores each byte through a volatile pointer instead. velk's libraries
// and programs clear their secrets with this too.
inline void secure_wipe(void *p, std::size_t size) noexcept {
    if (size == 0)
        return;
#if defined(__GNUC__) || defined(__clang__)
    std::memset(p, 0, size);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile unsigned char *b = static_cast<volatile unsigned char *>(p);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = 0;
#endif
}

template <class T, std::size_t N> void wipe(std::array<T, N> &a) noexcept {
    secure_wipe(a.data(), sizeof a);
}

// The key schedule of one 8-byte key, cleared when it is destroyed. Copies
// and assignments copy the words; each copy clears its own.
class Subkeys {
  public:
    Subkeys() noexcept = default;
    Subkeys(const Subkeys &) noexcept = default;
    Subkeys &operator=(const Subkeys &) noexcept = default;
    ~Subkeys() { wipe(words_); }

    std::uint32_t *data() noexcept { return words_.data(); }
    const std::uint32_t *data() const noexcept { return words_.data(); }

  private:
    std::array<std::uint32_t, 32> words_;
};

// A schedule from a key whose length is known only at run time: empty unless
// the key has exactly the length the schedule takes.
template <class S> std::optional<S> from_bytes(std::span<const unsigned char> key) noexcept {
    if (key.size() != S::key_size)
        return std::nullopt;
    return std::optional<S>(std::in_place, key.template first<S::key_size>());
}

// Which byte enters an 8-bit feedback register after each step.
enum class Feedback { produced, consumed, keystream };

// The 8-bit CFB and OFB of the C functions, over the ECB encryption of a
// schedule the C functions do not cover: each byte is XORed with the first
// byte of the encrypted register, which then shifts one byte left and takes
// in the feedback byte.
template <Feedback feedback, class S>
bool feedback8(const S &schedule, BytesIn in, BytesOut out,
               std::span<unsigned char, 8> reg) noexcept {
    if (out.size() < in.size())
        return false;
    std::array<unsigned char, 8> stream;
    for (std::size_t i = 0; i < in.size(); ++i) {
        schedule.ecb_encrypt(reg, stream);
        const unsigned char x = in[i];
        const auto y = static_cast<unsigned char>(x ^ stream[0]);
        out[i] = y;
        std::copy(reg.begin() + 1, reg.end(), reg.begin());
        reg[7] = feedback == Feedback::produced   ? y
                 : feedback == Feedback::consumed ? x
                                                  : stream[0];
    }
    return true;
}

} // namespace detail

// Single DES: the schedule of one 8-byte key.
class Schedule {
  public:
    static constexpr std::size_t key_size = 8;

    explicit Schedule(std::span<const unsigned char, 8> key) noexcept
        : class_(static_cast<KeyClass>(des_init(key.data(), 8, ks_.data()))) {}
    // From a key of any length: empty unless it has 8 bytes.
    static std::optional<Schedule> from_bytes(std::span<const unsigned char> key) noexcept {
        return detail::from_bytes<Schedule>(key);
    }

    KeyClass key_class() const noexcept { return class_; }
    // The C schedule, for calling velkcore.h directly.
    const std::uint32_t *subkeys() const noexcept { return ks_.data(); }

    void ecb_encrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecbencode(in.data(), out.data(), ks_.data());
    }
    void ecb_decrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecbdecode(in.data(), out.data(), ks_.data());
    }
    // One CBC block; `iv` is only read (see CbcEncryptor for the chain).
    void cbc_encrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbcencode(in.data(), out.data(), iv.data(), ks_.data());
    }
    void cbc_decrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbcdecode(in.data(), out.data(), iv.data(), ks_.data());
    }
    // 8-bit CFB and OFB over in.size() bytes; `out` holds at least as many
    // and may be `in`. The register carries the stream to the next call.
    // True when done; false, with nothing written and the register as it
    // was, when `out` is shorter than `in`.
    bool cfb_encrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_cfbencode(i, o, n, reg.data(), ks_.data());
        });
    }
    bool cfb_decrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_cfbdecode(i, o, n, reg.data(), ks_.data());
        });
    }
    // OFB is its own inverse: the same call encrypts and decrypts.
    bool ofb(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_ofbencode(i, o, n, reg.data(), ks_.data());
        });
    }

    // Fixed-size stream arguments with the output the shorter do not compile.
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_encrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_decrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool ofb(I &&, O &&, Register) const = delete;

  private:
    detail::Subkeys ks_;
    KeyClass class_;
};

// Two-key triple DES, E1(D2(E1(x))): K1 = key bytes 0-7, K2 = bytes 8-15.
class Ede2Schedule {
  public:
    static constexpr std::size_t key_size = 16;

    explicit Ede2Schedule(std::span<const unsigned char, 16> key) noexcept
        : class_(static_cast<KeyClass>(des_3EDEinit(key.data(), 16, ks1_.data(), ks2_.data()))) {}
    // From a key of any length: empty unless it has 16 bytes.
    static std::optional<Ede2Schedule> from_bytes(std::span<const unsigned char> key) noexcept {
        return detail::from_bytes<Ede2Schedule>(key);
    }

    KeyClass key_class() const noexcept { return class_; }

    void ecb_encrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecb3EDEencode(in.data(), out.data(), ks1_.data(), ks2_.data());
    }
    void ecb_decrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecb3EDEdecode(in.data(), out.data(), ks1_.data(), ks2_.data());
    }
    void cbc_encrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbc3EDEencode(in.data(), out.data(), iv.data(), ks1_.data(), ks2_.data());
    }
    void cbc_decrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbc3EDEdecode(in.data(), out.data(), iv.data(), ks1_.data(), ks2_.data());
    }
    bool cfb_encrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_cfb3EDEencode(i, o, n, reg.data(), ks1_.data(), ks2_.data());
        });
    }
    bool cfb_decrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_cfb3EDEdecode(i, o, n, reg.data(), ks1_.data(), ks2_.data());
        });
    }
    bool ofb(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_ofb3EDEencode(i, o, n, reg.data(), ks1_.data(), ks2_.data());
        });
    }

    // Fixed-size stream arguments with the output the shorter do not compile.
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_encrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_decrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool ofb(I &&, O &&, Register) const = delete;

  private:
    detail::Subkeys ks1_, ks2_;
    KeyClass class_;
};

// Three-key triple DES in the encrypt-encrypt-encrypt form, E3(E2(E1(x))):
// K1, K2, K3 = key bytes 0-7, 8-15, 16-23. This is not the three-key triple
// DES of NIST SP 800-67, velkfile and OpenSSL's des-ede3, which is
// Ede3Schedule below; neither reads the other's data.
class Eee3Schedule {
  public:
    static constexpr std::size_t key_size = 24;

    explicit Eee3Schedule(std::span<const unsigned char, 24> key) noexcept
        : class_(static_cast<KeyClass>(
              des_3EEEinit(key.data(), 24, ks1_.data(), ks2_.data(), ks3_.data()))) {}
    // From a key of any length: empty unless it has 24 bytes.
    static std::optional<Eee3Schedule> from_bytes(std::span<const unsigned char> key) noexcept {
        return detail::from_bytes<Eee3Schedule>(key);
    }

    KeyClass key_class() const noexcept { return class_; }

    void ecb_encrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecb3EEEencode(in.data(), out.data(), ks1_.data(), ks2_.data(), ks3_.data());
    }
    void ecb_decrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecb3EEEdecode(in.data(), out.data(), ks1_.data(), ks2_.data(), ks3_.data());
    }
    void cbc_encrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbc3EEEencode(in.data(), out.data(), iv.data(), ks1_.data(), ks2_.data(),
                          ks3_.data());
    }
    void cbc_decrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbc3EEEdecode(in.data(), out.data(), iv.data(), ks1_.data(), ks2_.data(),
                          ks3_.data());
    }
    bool cfb_encrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_cfb3EEEencode(i, o, n, reg.data(), ks1_.data(), ks2_.data(), ks3_.data());
        });
    }
    bool cfb_decrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_cfb3EEEdecode(i, o, n, reg.data(), ks1_.data(), ks2_.data(), ks3_.data());
        });
    }
    bool ofb(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::in_pieces(in, out, [&](auto i, auto o, auto n) {
            des_ofb3EEEencode(i, o, n, reg.data(), ks1_.data(), ks2_.data(), ks3_.data());
        });
    }

    // Fixed-size stream arguments with the output the shorter do not compile.
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_encrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_decrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool ofb(I &&, O &&, Register) const = delete;

  private:
    detail::Subkeys ks1_, ks2_, ks3_;
    KeyClass class_;
};

// Three-key triple DES in the encrypt-decrypt-encrypt form, E3(D2(E1(x))):
// K1, K2, K3 = key bytes 0-7, 8-15, 16-23. This is triple DES as NIST SP
// 800-67 (keying option 1) and ANSI X9.52 define it, the cipher of velkfile
// and of OpenSSL's des-ede3 family. The C library has no such family; this
// one is built from its single-DES functions, three per block, and its 8-bit
// CFB and OFB follow the C functions' rules. With K1 = K3 it is two-key EDE
// (Ede2Schedule), with K1 = K2 = K3 single DES.
class Ede3Schedule {
  public:
    static constexpr std::size_t key_size = 24;

    // A schedule does not depend on the direction it runs in, so the EEE
    // set-up builds these three, and its result is the OR of their classes
    // as every triple set-up reports it.
    explicit Ede3Schedule(std::span<const unsigned char, 24> key) noexcept
        : class_(static_cast<KeyClass>(
              des_3EEEinit(key.data(), 24, ks1_.data(), ks2_.data(), ks3_.data()))) {}
    // From a key of any length: empty unless it has 24 bytes.
    static std::optional<Ede3Schedule> from_bytes(std::span<const unsigned char> key) noexcept {
        return detail::from_bytes<Ede3Schedule>(key);
    }

    // The OR of the three keys' classes, as the C triple set-ups report it.
    KeyClass key_class() const noexcept { return class_; }
    // The C schedules of K1, K2 and K3, for a caller that runs the stages
    // itself (velk's many-block engine builds its key from them).
    const std::uint32_t *subkeys1() const noexcept { return ks1_.data(); }
    const std::uint32_t *subkeys2() const noexcept { return ks2_.data(); }
    const std::uint32_t *subkeys3() const noexcept { return ks3_.data(); }

    // The first single-DES call reads its whole input before it writes, so
    // `in` and `out` may overlap in any way; the later stages work in `out`.
    void ecb_encrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecbencode(in.data(), out.data(), ks1_.data());
        des_ecbdecode(out.data(), out.data(), ks2_.data());
        des_ecbencode(out.data(), out.data(), ks3_.data());
    }
    void ecb_decrypt(BlockIn in, BlockOut out) const noexcept {
        des_ecbdecode(in.data(), out.data(), ks3_.data());
        des_ecbencode(out.data(), out.data(), ks2_.data());
        des_ecbdecode(out.data(), out.data(), ks1_.data());
    }
    // E3(D2(E1(in XOR iv))) and iv XOR D1(E2(D3(in))): single-DES CBC does
    // the stage next to the XOR, so `out` may be `in` or `iv` as in C.
    void cbc_encrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        des_cbcencode(in.data(), out.data(), iv.data(), ks1_.data());
        des_ecbdecode(out.data(), out.data(), ks2_.data());
        des_ecbencode(out.data(), out.data(), ks3_.data());
    }
    void cbc_decrypt(BlockIn in, BlockOut out, BlockIn iv) const noexcept {
        Block x;
        des_ecbdecode(in.data(), x.data(), ks3_.data());
        des_ecbencode(x.data(), x.data(), ks2_.data());
        des_cbcdecode(x.data(), out.data(), iv.data(), ks1_.data());
    }
    bool cfb_encrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::feedback8<detail::Feedback::produced>(*this, in, out, reg);
    }
    bool cfb_decrypt(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::feedback8<detail::Feedback::consumed>(*this, in, out, reg);
    }
    bool ofb(BytesIn in, BytesOut out, Register reg) const noexcept {
        return detail::feedback8<detail::Feedback::keystream>(*this, in, out, reg);
    }

    // Fixed-size stream arguments with the output the shorter do not compile.
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_encrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool cfb_decrypt(I &&, O &&, Register) const = delete;
    template <class I, class O>
        requires detail::short_fixed_output<I, O>
    bool ofb(I &&, O &&, Register) const = delete;

  private:
    detail::Subkeys ks1_, ks2_, ks3_;
    KeyClass class_;
};

// CBC with the chain carried for the caller: one block per call, each
// chained on the one before, starting from the vector. The chain keeps a
// reference to the schedule, which must outlive it; a temporary schedule,
// which would be gone before the first block, does not compile. `out` may
// be `in`.
template <class S> class CbcEncryptor {
  public:
    CbcEncryptor(const S &schedule, BlockIn iv) noexcept : s_(schedule) {
        std::copy(iv.begin(), iv.end(), chain_.begin());
    }
    CbcEncryptor(const S &&, BlockIn) = delete;
    void operator()(BlockIn in, BlockOut out) noexcept {
        s_.cbc_encrypt(in, out, chain_);
        std::copy(out.begin(), out.end(), chain_.begin());
    }
    const Block &chain() const noexcept { return chain_; }

  private:
    const S &s_;
    Block chain_;
};

// `velk::CbcEncryptor cbc(schedule, iv);` names the schedule's type for the
// caller.
template <class S> CbcEncryptor(const S &, BlockIn) -> CbcEncryptor<S>;

template <class S> class CbcDecryptor {
  public:
    CbcDecryptor(const S &schedule, BlockIn iv) noexcept : s_(schedule) {
        std::copy(iv.begin(), iv.end(), chain_.begin());
    }
    CbcDecryptor(const S &&, BlockIn) = delete;
    void operator()(BlockIn in, BlockOut out) noexcept {
        // The cipher block chains the next call; keep it before an in-place
        // call overwrites it.
        Block next;
        std::copy(in.begin(), in.end(), next.begin());
        s_.cbc_decrypt(in, out, chain_);
        chain_ = next;
    }
    const Block &chain() const noexcept { return chain_; }

  private:
    const S &s_;
    Block chain_;
};

template <class S> CbcDecryptor(const S &, BlockIn) -> CbcDecryptor<S>;

// A schedule of any of the four kinds.
template <class S>
concept BlockSchedule = requires(const S &s, BlockIn in, BlockOut out) {
    s.ecb_encrypt(in, out);
    s.cbc_encrypt(in, out, in);
};

// The key check value: the first three bytes of the encryption of a zero
// block, which identify a key (a typed-in or transported one, say) without
// revealing it. Some systems print more or fewer: key_check_value<N> gives
// the first N bytes (1 to 8).
template <std::size_t N = 3, BlockSchedule S>
    requires(N >= 1 && N <= 8)
std::array<unsigned char, N> key_check_value(const S &schedule) noexcept {
    Block block{};
    schedule.ecb_encrypt(block, block);
    std::array<unsigned char, N> kcv;
    std::copy_n(block.begin(), N, kcv.begin());
    detail::wipe(block);
    return kcv;
}

// DES key parity: the low bit of each key byte makes the number of set bits
// in the byte odd. The cipher ignores these bits; some systems insist on
// them. Both functions take any number of key bytes and neither branches on
// or indexes by a key bit.
namespace detail {
// 1 when the number of set bits in `b` is odd.
constexpr unsigned bit_parity(unsigned b) noexcept {
    b ^= b >> 4;
    b ^= b >> 2;
    b ^= b >> 1;
    return b & 1u;
}
} // namespace detail

// Sets the low bit of every byte so that each has odd parity.
constexpr void set_odd_parity(std::span<unsigned char> key) noexcept {
    for (unsigned char &b : key)
        b = static_cast<unsigned char>((b & 0xFEu) | (detail::bit_parity(b >> 1) ^ 1u));
}

// True when every byte has odd parity (so also for no bytes). Looks at every
// byte whatever it finds.
constexpr bool has_odd_parity(std::span<const unsigned char> key) noexcept {
    unsigned even = 0;
    for (unsigned char b : key)
        even |= detail::bit_parity(b) ^ 1u;
    return even == 0;
}

// The padding methods of ISO/IEC 9797-1. Method 1 adds zero bytes up to a
// whole number of blocks: none to data that already fills whole blocks, one
// zero block to empty data. Method 2 adds a 0x80 byte, then zero bytes up to
// a whole number of blocks, so it always adds at least one byte and data
// that differ only in trailing zero bytes get different MACs. Method 3 puts
// a block holding the data's length in bits (64-bit big-endian) before the
// data padded by method 1, which also tells such data apart.
enum class Padding { method1, method2, method3 };

namespace detail {
// CBC under `schedule` from a zero vector over the padded data; the chain
// ends as the last cipher block. The padded tail is built in a block of its
// own and cleared.
template <BlockSchedule S>
void cbc_mac_chain(const S &schedule, BytesIn data, Padding padding, Block &chain) noexcept {
    chain.fill(0);
    if (padding == Padding::method3) {
        // The length modulo 2^64, as a 64-bit field holds it.
        const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8u;
        Block length;
        for (std::size_t i = 0; i < 8; ++i)
            length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        schedule.cbc_encrypt(length, chain, chain);
    }
    const std::size_t whole = data.size() - data.size() % 8;
    for (std::size_t at = 0; at < whole; at += 8)
        schedule.cbc_encrypt(data.subspan(at).template first<8>(), chain, chain);
    const std::size_t rest = data.size() - whole;
    if (padding != Padding::method2 && rest == 0 && !data.empty())
        return;
    Block last{};
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end(), last.begin());
    if (padding == Padding::method2)
        last[rest] = 0x80;
    schedule.cbc_encrypt(last, chain, chain);
    wipe(last);
}
} // namespace detail

// ISO/IEC 9797-1 MAC algorithm 1: the last block of the CBC encryption of
// the padded data from a zero vector, under any schedule (single DES as in
// ANSI X9.9, or a triple-DES schedule). The whole 8-byte block is returned;
// truncating it to the length a protocol sends is the caller's step.
template <BlockSchedule S>
Block cbc_mac(const S &schedule, BytesIn data, Padding padding) noexcept {
    Block mac;
    detail::cbc_mac_chain(schedule, data, padding, mac);
    return mac;
}

// ISO/IEC 9797-1 MAC algorithm 3, the "retail MAC" of ANSI X9.19: single-DES
// CBC-MAC under K1, then the last block decrypted under K2 and encrypted
// under K1 again. The 16-byte key of a two-key triple-DES system gives
// K1 = bytes 0-7, K2 = bytes 8-15. The whole block is returned, as above.
inline Block retail_mac(const Schedule &k1, const Schedule &k2, BytesIn data,
                        Padding padding) noexcept {
    Block mac;
    detail::cbc_mac_chain(k1, data, padding, mac);
    k2.ecb_decrypt(mac, mac);
    k1.ecb_encrypt(mac, mac);
    return mac;
}

} // namespace velk

#endif // C++20
#endif // VELKCORE_HPP
