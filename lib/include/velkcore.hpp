// velkcore.hpp: a thin C++20 interface over the C functions of velkcore.h.
//
// Everything here is inline and calls the same exported C functions; nothing
// new is exported and nothing is allocated. Keys, blocks, chaining values and
// registers are fixed-extent spans, so a buffer of the wrong size does not
// compile. Stream data (CFB and OFB) is any contiguous range of bytes; an
// output shorter than its input is refused in every build, at compile time
// when both sizes are fixed and otherwise by a `false` result with nothing
// written.
//
// The schedules are plain values: copy them, keep them in containers, share
// them between threads for reading. Like the C functions, nothing validates a
// key or refuses a weak one; the key class is only reported.
#ifndef VELKCORE_HPP
#define VELKCORE_HPP

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
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

} // namespace detail

// Single DES: the schedule of one 8-byte key.
class Schedule {
  public:
    explicit Schedule(std::span<const unsigned char, 8> key) noexcept
        : class_(static_cast<KeyClass>(des_init(key.data(), 8, ks_.data()))) {}

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
    std::array<std::uint32_t, 32> ks_;
    KeyClass class_;
};

// Two-key triple DES, E1(D2(E1(x))): K1 = key bytes 0-7, K2 = bytes 8-15.
class Ede2Schedule {
  public:
    explicit Ede2Schedule(std::span<const unsigned char, 16> key) noexcept
        : class_(static_cast<KeyClass>(des_3EDEinit(key.data(), 16, ks1_.data(), ks2_.data()))) {}

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
    std::array<std::uint32_t, 32> ks1_, ks2_;
    KeyClass class_;
};

// Three-key triple DES, E3(E2(E1(x))): K1, K2, K3 = key bytes 0-7, 8-15, 16-23.
class Eee3Schedule {
  public:
    explicit Eee3Schedule(std::span<const unsigned char, 24> key) noexcept
        : class_(static_cast<KeyClass>(
              des_3EEEinit(key.data(), 24, ks1_.data(), ks2_.data(), ks3_.data()))) {}

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
    std::array<std::uint32_t, 32> ks1_, ks2_, ks3_;
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

} // namespace velk

#endif // VELKCORE_HPP
