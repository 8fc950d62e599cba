// SPDX-License-Identifier: MIT
// velkpay.hpp: a thin C++20 interface over the C functions of velkpay.h.
//
// Everything here is inline and calls the same exported C functions; nothing
// new is exported and nothing is allocated or thrown. Keys of a fixed size
// and blocks are fixed-extent spans, so a buffer of the wrong size does not
// compile; keys whose length chooses the cipher (8, 16 or 24 bytes) and data
// are spans of any size, checked by the library. A call either returns its
// result or a Status naming why it was refused, with nothing written.
#ifndef VELKPAY_HPP
#define VELKPAY_HPP

#if !defined(__cplusplus) ||                                                                       \
    (__cplusplus <= 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG > 201703L))
#error "velkpay.hpp needs C++20 (e.g. -std=c++20); from C or older C++ use velkpay.h"
#else

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "velkcore.hpp"
#include "velkpay.h"

namespace velk::pay {

using BytesIn = std::span<const unsigned char>;
using BytesOut = std::span<unsigned char>;
using Mac = std::array<unsigned char, 8>;

// The outcome of a call: VELKPAY_OK or one of the negative VELKPAY_E_* codes.
class Status {
  public:
    constexpr Status() noexcept = default;
    constexpr explicit Status(int code) noexcept : code_(code) {}

    constexpr bool ok() const noexcept { return code_ == VELKPAY_OK; }
    constexpr explicit operator bool() const noexcept { return ok(); }
    constexpr int code() const noexcept { return code_; }
    // The library's fixed text for the code (velkpay_strerror).
    const char *message() const noexcept { return velkpay_strerror(code_); }

    friend constexpr bool operator==(Status, Status) noexcept = default;

  private:
    int code_ = VELKPAY_OK;
};

// A value or the Status that refused it. The value is there only when ok();
// reading it otherwise reads a value-initialised T. A T that holds a secret
// is wiped when the Result is destroyed (see Secret below).
template <class T> class Result {
  public:
    constexpr Result(const T &value) noexcept : value_(value) {}
    constexpr Result(Status status) noexcept : value_{}, status_(status) {}

    constexpr bool ok() const noexcept { return status_.ok(); }
    constexpr explicit operator bool() const noexcept { return ok(); }
    constexpr Status status() const noexcept { return status_; }

    constexpr const T &operator*() const noexcept { return value_; }
    constexpr const T *operator->() const noexcept { return &value_; }
    constexpr const T &value() const noexcept { return value_; }

  private:
    T value_;
    Status status_;
};

// Key bytes that clear themselves: a fixed-size array whose destructor
// overwrites it, for the keys the functions below return.
template <std::size_t N> class Secret {
  public:
    Secret() noexcept = default;
    Secret(const Secret &) noexcept = default;
    Secret &operator=(const Secret &) noexcept = default;
    ~Secret() { velk::detail::wipe(bytes_); }

    unsigned char *data() noexcept { return bytes_.data(); }
    const unsigned char *data() const noexcept { return bytes_.data(); }
    static constexpr std::size_t size() noexcept { return N; }
    std::span<const unsigned char, N> span() const noexcept { return bytes_; }
    std::span<unsigned char, N> span() noexcept { return bytes_; }
    const unsigned char &operator[](std::size_t i) const noexcept { return bytes_[i]; }
    friend bool operator==(const Secret &, const Secret &) noexcept = default;

  private:
    std::array<unsigned char, N> bytes_{};
};

namespace detail {
using velk::detail::wipe;

// Runs a C call that writes a T, returning the T or the refusal.
template <class T, class Call> Result<T> produce(Call call) noexcept {
    T value{};
    const int code = call(value);
    if (code != VELKPAY_OK)
        return Result<T>(Status(code));
    return Result<T>(value);
}
} // namespace detail

inline const char *strerror(Status status) noexcept { return status.message(); }

// ---- Triple DES over many blocks

// ECB and CBC under a 16- or 24-byte key over whole blocks; `out` holds at
// least in.size() bytes and may be `in`. CBC rewrites `iv` with the last
// cipher block, so the next call continues the chain. An `out` shorter than
// `in` is refused (VELKPAY_E_BUFFER) before anything is written.
inline Status tdes_ecb_encrypt(BytesIn in, BytesOut out, BytesIn key) noexcept {
    if (out.size() < in.size())
        return Status(VELKPAY_E_BUFFER);
    return Status(velkpay_tdes_ecb_encrypt(in.data(), out.data(), in.size(), key.data(), key.size()));
}
inline Status tdes_ecb_decrypt(BytesIn in, BytesOut out, BytesIn key) noexcept {
    if (out.size() < in.size())
        return Status(VELKPAY_E_BUFFER);
    return Status(velkpay_tdes_ecb_decrypt(in.data(), out.data(), in.size(), key.data(), key.size()));
}
inline Status tdes_cbc_encrypt(BytesIn in, BytesOut out, std::span<unsigned char, 8> iv,
                               BytesIn key) noexcept {
    if (out.size() < in.size())
        return Status(VELKPAY_E_BUFFER);
    return Status(velkpay_tdes_cbc_encrypt(in.data(), out.data(), in.size(), iv.data(), key.data(),
                                           key.size()));
}
inline Status tdes_cbc_decrypt(BytesIn in, BytesOut out, std::span<unsigned char, 8> iv,
                               BytesIn key) noexcept {
    if (out.size() < in.size())
        return Status(VELKPAY_E_BUFFER);
    return Status(velkpay_tdes_cbc_decrypt(in.data(), out.data(), in.size(), iv.data(), key.data(),
                                           key.size()));
}

// ---- MACs and key check values

// The ISO/IEC 9797-1 padding methods are velkcore.hpp's.
using velk::Padding;

namespace detail {
constexpr int padding_code(Padding p) noexcept {
    switch (p) {
    case Padding::method1:
        return VELKPAY_PAD_METHOD1;
    case Padding::method2:
        return VELKPAY_PAD_METHOD2;
    case Padding::method3:
        return VELKPAY_PAD_METHOD3;
    }
    return 0;
}
} // namespace detail

// TDES-CMAC of `data` under an 8-, 16- or 24-byte key.
inline Result<Mac> cmac(BytesIn data, BytesIn key) noexcept {
    return detail::produce<Mac>([&](Mac &m) {
        return velkpay_cmac(data.data(), data.size(), m.data(), key.data(), key.size());
    });
}

// ISO/IEC 9797-1 MAC algorithm 1 under an 8-, 16- or 24-byte key, and
// algorithm 3 (the retail MAC) under K K'; the whole block.
inline Result<Mac> mac_alg1(BytesIn data, Padding padding, BytesIn key) noexcept {
    return detail::produce<Mac>([&](Mac &m) {
        return velkpay_mac_alg1(data.data(), data.size(), detail::padding_code(padding), m.data(),
                                key.data(), key.size());
    });
}
inline Result<Mac> mac_alg3(BytesIn data, Padding padding,
                            std::span<const unsigned char, 16> key) noexcept {
    return detail::produce<Mac>([&](Mac &m) {
        return velkpay_mac_alg3(data.data(), data.size(), detail::padding_code(padding), m.data(),
                                key.data());
    });
}

// The legacy key check value, N bytes (2 to 8; 3 is usual), under an 8-, 16-
// or 24-byte key; and the 5-byte CMAC check value.
template <std::size_t N = 3>
    requires(N >= 2 && N <= 8)
Result<std::array<unsigned char, N>> kcv(BytesIn key) noexcept {
    return detail::produce<std::array<unsigned char, N>>([&](std::array<unsigned char, N> &v) {
        return velkpay_kcv(key.data(), key.size(), v.data(), N);
    });
}
inline Result<std::array<unsigned char, 5>> kcv_cmac(BytesIn key) noexcept {
    return detail::produce<std::array<unsigned char, 5>>([&](std::array<unsigned char, 5> &v) {
        return velkpay_kcv_cmac(key.data(), key.size(), v.data());
    });
}

// ---- DUKPT

// Triple-DES DUKPT keys (IPEKs, transaction and working keys) and KSNs.
using DukptKey = Secret<VELKPAY_DUKPT_KEY_SIZE>;
using Ksn = std::array<unsigned char, VELKPAY_DUKPT_KSN_SIZE>;
using KsnIn = std::span<const unsigned char, VELKPAY_DUKPT_KSN_SIZE>;
using BdkIn = std::span<const unsigned char, VELKPAY_DUKPT_BDK_SIZE>;
using DukptKeyIn = std::span<const unsigned char, VELKPAY_DUKPT_KEY_SIZE>;

// What a working key protects.
enum class KeyUsage : int {
    pin = VELKPAY_DUKPT_PIN,
    mac_request = VELKPAY_DUKPT_MAC_REQUEST,
    mac_response = VELKPAY_DUKPT_MAC_RESPONSE,
    data_request = VELKPAY_DUKPT_DATA_REQUEST,
    data_response = VELKPAY_DUKPT_DATA_RESPONSE,
};

// The IPEK of the device whose KSN is `ksn` (its counter bits ignored).
inline Result<DukptKey> dukpt_ipek(BdkIn bdk, KsnIn ksn) noexcept {
    return detail::produce<DukptKey>(
        [&](DukptKey &k) { return velkpay_dukpt_ipek(bdk.data(), ksn.data(), k.data()); });
}

// The host side: the transaction key of any KSN (counter 0 gives the IPEK).
inline Result<DukptKey> dukpt_transaction_key(BdkIn bdk, KsnIn ksn) noexcept {
    return detail::produce<DukptKey>([&](DukptKey &k) {
        return velkpay_dukpt_transaction_key(bdk.data(), ksn.data(), k.data());
    });
}

// The working key of a transaction key for one usage.
inline Result<DukptKey> dukpt_working_key(DukptKeyIn transaction_key, KeyUsage usage) noexcept {
    return detail::produce<DukptKey>([&](DukptKey &k) {
        return velkpay_dukpt_working_key(transaction_key.data(), static_cast<int>(usage), k.data());
    });
}

// One transaction of an originating device.
struct DukptTransaction {
    Ksn ksn{};
    DukptKey key;
};

// An originating device. It can be moved but not copied, since two copies
// would use the same keys twice; save it as saved() and construct it again
// from those bytes. Its state is wiped when it is destroyed or moved from.
// A device made empty, or from damaged bytes, refuses every call.
class DukptDevice {
  public:
    using SavedBytes = std::span<const unsigned char, sizeof(velkpay_dukpt_device::opaque)>;

    DukptDevice() noexcept = default;
    explicit DukptDevice(SavedBytes saved) noexcept {
        std::copy(saved.begin(), saved.end(), state_.opaque);
    }
    DukptDevice(const DukptDevice &) = delete;
    DukptDevice &operator=(const DukptDevice &) = delete;
    DukptDevice(DukptDevice &&other) noexcept : state_(other.state_) {
        velkpay_dukpt_device_wipe(&other.state_);
    }
    DukptDevice &operator=(DukptDevice &&other) noexcept {
        if (this != &other) {
            state_ = other.state_;
            velkpay_dukpt_device_wipe(&other.state_);
        }
        return *this;
    }
    ~DukptDevice() { velkpay_dukpt_device_wipe(&state_); }

    // Loads the IPEK and the initial KSN (counter bits 0), replacing the state.
    Status init(DukptKeyIn ipek, KsnIn initial_ksn) noexcept {
        return Status(velkpay_dukpt_device_init(&state_, ipek.data(), initial_ksn.data()));
    }
    // The next transaction's KSN and key; the state moves on.
    Result<DukptTransaction> next() noexcept {
        return detail::produce<DukptTransaction>([&](DukptTransaction &t) {
            return velkpay_dukpt_device_next(&state_, t.ksn.data(), t.key.data());
        });
    }
    // OK, or why next() would refuse the state.
    Status check() const noexcept { return Status(velkpay_dukpt_device_check(&state_)); }
    SavedBytes saved() const noexcept { return SavedBytes(state_.opaque); }

  private:
    velkpay_dukpt_device state_{};
};

// ---- PIN blocks

enum class PinFormat : int { format0 = 0, format1 = 1, format2 = 2, format3 = 3 };

// A decoded PIN: its digits as text, wiped when it is destroyed.
class Pin {
  public:
    std::string_view digits() const noexcept { return {digits_.data(), length_}; }
    ~Pin() { velk::detail::wipe(digits_); }
    Pin() noexcept = default;
    Pin(const Pin &) noexcept = default;
    Pin &operator=(const Pin &) noexcept = default;

  private:
    friend Result<Pin> pin_block_decode(PinFormat, std::span<const unsigned char, 8>,
                                        std::string_view) noexcept;
    friend Result<Pin> pin_block_decipher(PinFormat, std::span<const unsigned char, 8>,
                                          std::string_view, BytesIn) noexcept;
    std::array<char, VELKPAY_PIN_MAX_DIGITS> digits_{};
    std::size_t length_ = 0;
};

// PINs are 4 to 12 digits; `pan` (13 to 19 digits) is needed by formats 0
// and 3 only. The random fill of formats 1 and 3 comes from `random` (at
// least VELKPAY_PIN_RANDOM_SIZE bytes) or, when it is empty, the system. The
// clear block is a secret (it holds the PIN); the enciphered one is not.
inline Result<Secret<8>> pin_block_encode(PinFormat format, std::string_view pin,
                                          std::string_view pan = {}, BytesIn random = {}) noexcept {
    if (!random.empty() && random.size() < VELKPAY_PIN_RANDOM_SIZE)
        return Status(VELKPAY_E_ARGUMENT);
    return detail::produce<Secret<8>>([&](Secret<8> &b) {
        return velkpay_pin_block_encode(static_cast<int>(format), pin.data(), pin.size(),
                                        pan.data(), pan.size(),
                                        random.empty() ? nullptr : random.data(), b.data());
    });
}

inline Result<Pin> pin_block_decode(PinFormat format, std::span<const unsigned char, 8> block,
                                    std::string_view pan = {}) noexcept {
    Pin p;
    const int code =
        velkpay_pin_block_decode(static_cast<int>(format), block.data(), pan.data(), pan.size(),
                                 p.digits_.data(), p.digits_.size(), &p.length_);
    if (code != VELKPAY_OK)
        return Status(code);
    return p;
}

// The same, enciphered in ECB under a 16- or 24-byte PIN key.
inline Result<Block> pin_block_encipher(PinFormat format, std::string_view pin,
                                        std::string_view pan, BytesIn pek,
                                        BytesIn random = {}) noexcept {
    if (!random.empty() && random.size() < VELKPAY_PIN_RANDOM_SIZE)
        return Status(VELKPAY_E_ARGUMENT);
    return detail::produce<Block>([&](Block &b) {
        return velkpay_pin_block_encipher(
            static_cast<int>(format), pin.data(), pin.size(), pan.data(), pan.size(),
            random.empty() ? nullptr : random.data(), b.data(), pek.data(), pek.size());
    });
}

inline Result<Pin> pin_block_decipher(PinFormat format, std::span<const unsigned char, 8> block,
                                      std::string_view pan, BytesIn pek) noexcept {
    Pin p;
    const int code = velkpay_pin_block_decipher(static_cast<int>(format), block.data(), pan.data(),
                                                pan.size(), p.digits_.data(), p.digits_.size(),
                                                &p.length_, pek.data(), pek.size());
    if (code != VELKPAY_OK)
        return Status(code);
    return p;
}

// ---- TR-31 key blocks

// The header of an unwrapped block (velkpay.h), its optional blocks as
// places in the block's text.
using Tr31Header = velkpay_tr31_header;

// Wrap flags: pad the key data only to whole blocks (the block then tells
// the key's length), and refuse optional blocks that do not end on a
// multiple of 8 characters instead of completing them with a PB block.
inline constexpr int tr31_pad_short = VELKPAY_TR31_PAD_SHORT;
inline constexpr int tr31_no_pb = VELKPAY_TR31_NO_PB;

// Wraps `key` under a 16- or 24-byte KBPK with `header` (its length field
// is computed) into `out`, and returns the block: the first characters of
// `out`, which VELKPAY_TR31_MAX_BLOCK characters always hold. The padding
// comes from `random` (at least VELKPAY_TR31_RANDOM_SIZE bytes) or, when it
// is empty, from the system.
inline Result<std::string_view> tr31_wrap(std::string_view header, BytesIn key, BytesIn kbpk,
                                          std::span<char> out, int flags = 0,
                                          BytesIn random = {}) noexcept {
    if (!random.empty() && random.size() < VELKPAY_TR31_RANDOM_SIZE)
        return Status(VELKPAY_E_ARGUMENT);
    std::size_t length = 0;
    const int code = velkpay_tr31_wrap(header.data(), header.size(), key.data(), key.size(),
                                       flags, random.empty() ? nullptr : random.data(),
                                       kbpk.data(), kbpk.size(), out.data(), out.size(), &length);
    if (code != VELKPAY_OK)
        return Status(code);
    return std::string_view(out.data(), length);
}

// Unwraps `block` under a 16- or 24-byte KBPK: writes the key to the start
// of `key` and returns that part, and fills `header` when it is given.
inline Result<BytesOut> tr31_unwrap(std::string_view block, BytesIn kbpk, BytesOut key,
                                    Tr31Header *header = nullptr) noexcept {
    std::size_t length = 0;
    const int code = velkpay_tr31_unwrap(block.data(), block.size(), kbpk.data(), kbpk.size(),
                                         key.data(), key.size(), &length, header);
    if (code != VELKPAY_OK)
        return Status(code);
    return key.first(length);
}

// The header with its optional blocks, and one optional block's data, as
// the text of the block they were read from.
inline std::string_view tr31_header_text(std::string_view block, const Tr31Header &header) noexcept {
    return block.substr(0, header.header_length);
}
inline std::string_view tr31_optional_data(std::string_view block,
                                           const velkpay_tr31_optional_block &optional) noexcept {
    return block.substr(optional.offset, optional.length);
}

} // namespace velk::pay

#endif // C++20
#endif // VELKPAY_HPP
