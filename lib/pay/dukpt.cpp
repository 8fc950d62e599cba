// SPDX-License-Identifier: MIT
// Triple-DES DUKPT: the initial key, the receiving host's derivation of any
// transaction key, the working keys, and the originating device that keeps
// 21 future keys and forgets each key once it is used.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dukpt_state.hpp"
#include "velkcore.hpp"
#include "velkpay.h"
#include "wipe.hpp"

namespace {

namespace st = velk::pay::dukpt;

using Key = std::array<unsigned char, 16>;
using velk::Block;

// XORed into a key to make the second key of the pair that derives each
// IPEK half, and into the key register between the two halves of a key
// generation step.
constexpr Key key_mask{0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0, 0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0};

// A device uses only counters with at most this many 1-bits, so that no
// transaction key lies more than ten key generation steps from the IPEK.
constexpr int max_counter_ones = 10;

void xor_into(Key &key, const Key &mask) noexcept {
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] ^= mask[i];
}

// Single DES under the key's left half of `input` XOR its right half, XORed
// with the right half again: one half of a key generation step.
void generation_half(const Key &key, const Block &input, unsigned char *out) noexcept {
    Block x;
    for (std::size_t i = 0; i < 8; ++i)
        x[i] = input[i] ^ key[8 + i];
    const velk::Schedule left(std::span<const unsigned char, 8>(key.data(), 8));
    left.ecb_encrypt(x, x);
    for (std::size_t i = 0; i < 8; ++i)
        out[i] = x[i] ^ key[8 + i];
    velk::secure_wipe(x.data(), x.size());
}

// The non-reversible key generation step: the next key from the current one
// and eight KSN bytes. The new right half is computed under the key, the new
// left half under the key XOR key_mask; neither half of the old key can be
// recovered from the new one.
void generate_key(Key &key, const Block &input) noexcept {
    Key next;
    generation_half(key, input, next.data() + 8);
    xor_into(key, key_mask);
    generation_half(key, input, next.data());
    key = next;
    velk::secure_wipe(next.data(), next.size());
}

using Ksn = std::array<unsigned char, st::ksn_size>;

Ksn with_counter(const unsigned char *ksn, std::uint32_t counter) noexcept {
    Ksn k;
    std::copy(ksn, ksn + st::ksn_size, k.begin());
    st::set_ksn_counter(k.data(), counter);
    return k;
}

// The rightmost eight KSN bytes with the counter bits set to `counter`: the
// input of the step that sets the counter's last bit.
Block generation_input(const unsigned char *ksn, std::uint32_t counter) noexcept {
    const Ksn k = with_counter(ksn, counter);
    Block r;
    std::copy(k.end() - r.size(), k.end(), r.begin());
    return r;
}

void ede2_encrypt(const Key &key, const unsigned char *in, unsigned char *out) noexcept {
    const velk::Ede2Schedule s(key);
    s.ecb_encrypt(std::span<const unsigned char, 8>(in, 8), std::span<unsigned char, 8>(out, 8));
}

void derive_ipek(const unsigned char *bdk, const unsigned char *ksn, Key &ipek) noexcept {
    // The leftmost eight KSN bytes, without the counter's top five bits.
    const Ksn cleared = with_counter(ksn, 0);
    Block left;
    std::copy(cleared.begin(), cleared.begin() + left.size(), left.begin());
    Key k;
    std::copy(bdk, bdk + 16, k.begin());
    ede2_encrypt(k, left.data(), ipek.data());
    xor_into(k, key_mask);
    ede2_encrypt(k, left.data(), ipek.data() + 8);
    velk::secure_wipe(k.data(), k.size());
}

// The byte of each key half that a working-key variant inverts: the variant
// masks are 0xFF at that byte of both halves and 0 elsewhere.
int variant_byte(int usage) noexcept {
    switch (usage) {
    case VELKPAY_DUKPT_PIN:
        return 7;
    case VELKPAY_DUKPT_MAC_REQUEST:
        return 6;
    case VELKPAY_DUKPT_DATA_REQUEST:
        return 5;
    case VELKPAY_DUKPT_MAC_RESPONSE:
        return 4;
    case VELKPAY_DUKPT_DATA_RESPONSE:
        return 3;
    default:
        return -1;
    }
}

// ---- the device state --------------------------------------------------

using State = std::span<unsigned char, st::state_size>;
using ConstState = std::span<const unsigned char, st::state_size>;

unsigned char *register_at(State s, std::size_t bit) noexcept {
    return s.data() + st::registers_at + bit * st::key_size;
}

bool all_zero(std::span<const unsigned char> bytes) noexcept {
    return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; });
}

int check_state(ConstState s) noexcept {
    if (st::crc32(s.first<st::crc_at>()) != st::stored_crc(s))
        return VELKPAY_E_DUKPT_STATE;
    if (!std::equal(st::magic.begin(), st::magic.end(), s.begin() + st::magic_at) ||
        s[st::version_at] != st::layout_version ||
        !all_zero(s.subspan(st::reserved_at, st::ksn_at - st::reserved_at)) ||
        !all_zero(s.subspan(st::registers_end, st::crc_at - st::registers_end)))
        return VELKPAY_E_DUKPT_STATE;
    const std::uint32_t counter = st::ksn_counter(s.data() + st::ksn_at);
    if (s[st::status_at] == st::status_exhausted)
        return counter == 0 ? VELKPAY_E_DUKPT_EXHAUSTED : VELKPAY_E_DUKPT_STATE;
    if (s[st::status_at] != st::status_active || counter == 0 ||
        std::popcount(counter) > max_counter_ones)
        return VELKPAY_E_DUKPT_STATE;
    return VELKPAY_OK;
}

// Fills the registers of the counter bits below `lowest` with the keys of
// `counter` plus each such bit, all derived from `key`, the key of `counter`:
// the future keys of the transactions that follow it. Register j then holds
// the key of the next counter whose lowest 1-bit is 2^j.
void fill_registers_below(State s, std::uint32_t counter, unsigned lowest,
                          const Key &key) noexcept {
    const unsigned char *ksn = s.data() + st::ksn_at;
    Key k;
    for (unsigned j = lowest; j-- > 0;) {
        k = key;
        generate_key(k, generation_input(ksn, counter | std::uint32_t{1} << j));
        std::copy(k.begin(), k.end(), register_at(s, j));
    }
    velk::secure_wipe(k.data(), k.size());
}

} // namespace

extern "C" {

int velkpay_dukpt_ipek(const unsigned char bdk[16], const unsigned char ksn[10],
                       unsigned char ipek[16]) {
    if (bdk == nullptr || ksn == nullptr || ipek == nullptr)
        return VELKPAY_E_ARGUMENT;
    Key k;
    derive_ipek(bdk, ksn, k);
    std::copy(k.begin(), k.end(), ipek);
    velk::secure_wipe(k.data(), k.size());
    return VELKPAY_OK;
}

// From the IPEK, one key generation step for each 1-bit of the counter,
// highest first, each step's input carrying the counter's bits so far.
int velkpay_dukpt_transaction_key(const unsigned char bdk[16], const unsigned char ksn[10],
                                  unsigned char key[16]) {
    if (bdk == nullptr || ksn == nullptr || key == nullptr)
        return VELKPAY_E_ARGUMENT;
    Key k;
    derive_ipek(bdk, ksn, k);
    const std::uint32_t counter = st::ksn_counter(ksn);
    std::uint32_t so_far = 0;
    for (std::uint32_t bit = st::counter_end >> 1; bit != 0; bit >>= 1) {
        if ((counter & bit) == 0)
            continue;
        so_far |= bit;
        generate_key(k, generation_input(ksn, so_far));
    }
    std::copy(k.begin(), k.end(), key);
    velk::secure_wipe(k.data(), k.size());
    return VELKPAY_OK;
}

// The data keys go one step further than a variant: each half of the variant
// key encrypted under the whole variant key (two-key EDE), so that the data
// key is not a mere XOR of the PIN or MAC keys of the same transaction.
int velkpay_dukpt_working_key(const unsigned char transaction_key[16], int usage,
                              unsigned char key[16]) {
    if (transaction_key == nullptr || key == nullptr)
        return VELKPAY_E_ARGUMENT;
    const int at = variant_byte(usage);
    if (at < 0)
        return VELKPAY_E_KEY_USAGE;
    Key k;
    std::copy(transaction_key, transaction_key + 16, k.begin());
    k[static_cast<std::size_t>(at)] ^= 0xFF;
    k[static_cast<std::size_t>(at) + 8] ^= 0xFF;
    if (usage == VELKPAY_DUKPT_DATA_REQUEST || usage == VELKPAY_DUKPT_DATA_RESPONSE) {
        Key one_way;
        ede2_encrypt(k, k.data(), one_way.data());
        ede2_encrypt(k, k.data() + 8, one_way.data() + 8);
        k = one_way;
        velk::secure_wipe(one_way.data(), one_way.size());
    }
    std::copy(k.begin(), k.end(), key);
    velk::secure_wipe(k.data(), k.size());
    return VELKPAY_OK;
}

// The IPEK is the key of counter 0, whose lowest 1-bit lies above the 21
// counter bits: it fills every register, and the device starts at counter 1.
int velkpay_dukpt_device_init(velkpay_dukpt_device *device, const unsigned char ipek[16],
                              const unsigned char initial_ksn[10]) {
    if (device == nullptr || ipek == nullptr || initial_ksn == nullptr ||
        st::ksn_counter(initial_ksn) != 0)
        return VELKPAY_E_ARGUMENT;
    std::array<unsigned char, st::state_size> fresh{};
    const State s(fresh);
    std::copy(st::magic.begin(), st::magic.end(), s.begin() + st::magic_at);
    s[st::version_at] = st::layout_version;
    s[st::status_at] = st::status_active;
    std::copy(initial_ksn, initial_ksn + 10, s.begin() + st::ksn_at);
    Key k;
    std::copy(ipek, ipek + 16, k.begin());
    fill_registers_below(s, 0, st::counter_bits, k);
    st::set_ksn_counter(s.data() + st::ksn_at, 1);
    st::seal(s);
    std::copy(fresh.begin(), fresh.end(), device->opaque);
    velk::secure_wipe(k.data(), k.size());
    velk::secure_wipe(fresh.data(), fresh.size());
    return VELKPAY_OK;
}

// The key of the current counter sits in the register of its lowest 1-bit.
// It derives the keys of the counters that set one more bit below that one
// (while the count of 1-bits allows), and is then erased. The next counter
// is the current one plus 1, or, when the current one has ten 1-bits, plus
// its lowest 1-bit: every counter in between has more than ten.
int velkpay_dukpt_device_next(velkpay_dukpt_device *device, unsigned char ksn[10],
                              unsigned char key[16]) {
    if (device == nullptr || ksn == nullptr || key == nullptr)
        return VELKPAY_E_ARGUMENT;
    const State s(device->opaque);
    if (const int status = check_state(s); status != VELKPAY_OK)
        return status;
    unsigned char *ksn_register = s.data() + st::ksn_at;
    const std::uint32_t counter = st::ksn_counter(ksn_register);
    const auto lowest = static_cast<unsigned>(std::countr_zero(counter));
    unsigned char *current = register_at(s, lowest);
    Key k;
    std::copy(current, current + st::key_size, k.begin());
    std::copy(ksn_register, ksn_register + st::ksn_size, ksn);
    std::copy(k.begin(), k.end(), key);

    std::uint32_t next = counter + (counter & (0 - counter));
    if (std::popcount(counter) < max_counter_ones) {
        fill_registers_below(s, counter, lowest, k);
        next = counter + 1;
    }
    velk::secure_wipe(current, st::key_size);
    velk::secure_wipe(k.data(), k.size());
    if (next == st::counter_end) {
        velk::secure_wipe(register_at(s, 0), st::register_count * st::key_size);
        s[st::status_at] = st::status_exhausted;
        next = 0;
    }
    st::set_ksn_counter(ksn_register, next);
    st::seal(s);
    return VELKPAY_OK;
}

int velkpay_dukpt_device_check(const velkpay_dukpt_device *device) {
    if (device == nullptr)
        return VELKPAY_E_ARGUMENT;
    return check_state(ConstState(device->opaque));
}

void velkpay_dukpt_device_wipe(velkpay_dukpt_device *device) {
    if (device != nullptr)
        velk::secure_wipe(device->opaque, sizeof device->opaque);
}

} // extern "C"
