// SPDX-License-Identifier: MIT
// DUKPT: the host side against published answers and a derivation on
// libcrypto's DES; the originating device against the host over long runs,
// across counter skips and up to the end of the counter; the saved state's
// layout and its refusal of any damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "dukpt_state.hpp"
#include "libcrypto_oracle.hpp"
#include "velk_test.hpp"
#include "velkpay.h"

namespace {

using namespace velk::test;
namespace st = velk::pay::dukpt;

using Ksn = std::array<unsigned char, 10>;
using Key = std::array<unsigned char, 16>;

constexpr std::uint32_t last_counter = 0x1FF800; // the highest with ten 1-bits

template <std::size_t N> std::array<unsigned char, N> fixed(const Bytes &b) {
    if (b.size() != N)
        throw std::invalid_argument("expected " + std::to_string(N) + " bytes");
    std::array<unsigned char, N> a;
    std::copy(b.begin(), b.end(), a.begin());
    return a;
}

Ksn with_counter(Ksn ksn, std::uint32_t counter) {
    st::set_ksn_counter(ksn.data(), counter);
    return ksn;
}

std::uint32_t counter_of(const Ksn &ksn) {
    return st::ksn_counter(ksn.data());
}

// The counter a device uses after `c`: the next with at most ten 1-bits,
// or 2^21 when there is none.
std::uint32_t next_used(std::uint32_t c) {
    do
        ++c;
    while (c < st::counter_end && std::popcount(c) > 10);
    return c;
}

Key host_key(const Key &bdk, const Ksn &ksn) {
    Key k;
    EXPECT_EQ(velkpay_dukpt_transaction_key(bdk.data(), ksn.data(), k.data()), 0);
    return k;
}

Key working_key(const Key &key, int usage) {
    Key k;
    EXPECT_EQ(velkpay_dukpt_working_key(key.data(), usage, k.data()), 0);
    return k;
}

Key ipek_of(const Key &bdk, const Ksn &ksn) {
    Key k;
    EXPECT_EQ(velkpay_dukpt_ipek(bdk.data(), ksn.data(), k.data()), 0);
    return k;
}

velkpay_dukpt_device new_device(const Key &bdk, const Ksn &iksn) {
    velkpay_dukpt_device d;
    EXPECT_EQ(velkpay_dukpt_device_init(&d, ipek_of(bdk, iksn).data(), iksn.data()), 0);
    return d;
}

// The state a device reaches at counter `c`, written from the host's keys.
// Register j holds the key of the next counter whose lowest 1-bit is 2^j,
// from c's own lowest bit up; it is zero (erased after use, or not yet
// written) below that bit and where c has bit j set above it.
velkpay_dukpt_device state_at(const Key &bdk, const Ksn &iksn, std::uint32_t c) {
    velkpay_dukpt_device d{};
    const std::span<unsigned char, st::state_size> s(d.opaque);
    std::copy(st::magic.begin(), st::magic.end(), s.begin());
    s[st::version_at] = st::layout_version;
    s[st::status_at] = st::status_active;
    const Ksn ksn = with_counter(iksn, c);
    std::copy(ksn.begin(), ksn.end(), s.begin() + st::ksn_at);
    const int lowest = std::countr_zero(c);
    for (int j = 0; j < 21; ++j) {
        if (j < lowest || (j > lowest && (c >> j & 1u)))
            continue;
        const std::uint32_t owner = (c & ~((2u << j) - 1)) | 1u << j;
        const Key k = host_key(bdk, with_counter(iksn, owner));
        std::copy(k.begin(), k.end(), s.begin() + st::registers_at + 16 * j);
    }
    st::seal(s);
    return d;
}

// Runs the device for `steps` transactions (or to its end), checking that
// each uses the next counter with at most ten 1-bits and the host's key for
// its KSN. Returns the number of transactions run.
std::size_t run_against_host(velkpay_dukpt_device &d, const Key &bdk, const Ksn &iksn,
                             std::uint32_t from, std::size_t steps) {
    std::uint32_t expected = from;
    std::size_t done = 0;
    for (; done < steps && expected < st::counter_end; ++done) {
        Ksn ksn;
        Key key;
        const int r = velkpay_dukpt_device_next(&d, ksn.data(), key.data());
        EXPECT_EQ(r, 0) << "counter " << expected;
        if (r != 0)
            break;
        EXPECT_EQ(to_hex(ksn), to_hex(with_counter(iksn, expected)));
        EXPECT_EQ(to_hex(key), to_hex(host_key(bdk, ksn))) << "counter " << expected;
        if (::testing::Test::HasFailure())
            break;
        expected = next_used(expected);
    }
    return done;
}

const Key published_bdk = fixed<16>(from_hex("0123456789ABCDEFFEDCBA9876543210"));
const Ksn published_iksn = fixed<10>(from_hex("FFFF9876543210E00000"));

TEST(DukptHost, PublishedAnswers) {
    const auto records = read_vectors("pay_dukpt.txt");
    ASSERT_GE(records.size(), 20u);
    for (const auto &r : records) {
        SCOPED_TRACE(r.at("KSN"));
        const Key bdk = fixed<16>(from_hex(r.at("BDK")));
        const Ksn ksn = fixed<10>(from_hex(r.at("KSN")));
        if (r.count("IPEK")) {
            EXPECT_EQ(to_hex(ipek_of(bdk, ksn)), to_hex(from_hex(r.at("IPEK"))));
            // Counter 0 is the IPEK itself, and the counter never enters it.
            EXPECT_EQ(to_hex(host_key(bdk, with_counter(ksn, 0))), to_hex(ipek_of(bdk, ksn)));
            EXPECT_EQ(to_hex(ipek_of(bdk, with_counter(ksn, 0x1ABCDE))), to_hex(ipek_of(bdk, ksn)));
            continue;
        }
        const Key key = host_key(bdk, ksn);
        if (r.count("Key")) {
            EXPECT_EQ(to_hex(key), to_hex(from_hex(r.at("Key"))));
        }
        if (r.count("PinBlock")) {
            const std::string &pin = r.at("PIN"), &pan = r.at("PAN");
            const Key pek = working_key(key, VELKPAY_DUKPT_PIN);
            Block clear, block;
            ASSERT_EQ(velkpay_pin_block_encode(0, pin.data(), pin.size(), pan.data(), pan.size(),
                                               nullptr, clear.data()),
                      0);
            EXPECT_EQ(to_hex(clear), to_hex(from_hex(r.at("ClearPinBlock"))));
            ASSERT_EQ(velkpay_pin_block_encipher(0, pin.data(), pin.size(), pan.data(), pan.size(),
                                                 nullptr, block.data(), pek.data(), pek.size()),
                      0);
            EXPECT_EQ(to_hex(block), to_hex(from_hex(r.at("PinBlock"))));
        }
        const Bytes data = from_hex(r.at("Data"));
        for (const auto &[field, usage] : {std::pair{"MacRequest", VELKPAY_DUKPT_MAC_REQUEST},
                                           std::pair{"MacResponse", VELKPAY_DUKPT_MAC_RESPONSE}}) {
            if (!r.count(field))
                continue;
            const Bytes want = from_hex(r.at(field));
            Block mac;
            ASSERT_EQ(velkpay_mac_alg3(data.data(), data.size(), VELKPAY_PAD_METHOD1, mac.data(),
                                       working_key(key, usage).data()),
                      0);
            EXPECT_EQ(to_hex(Bytes(mac.begin(), mac.begin() + static_cast<long>(want.size()))),
                      to_hex(want))
                << field;
        }
        for (const auto &[field, usage] :
             {std::pair{"DataRequest", VELKPAY_DUKPT_DATA_REQUEST},
              std::pair{"DataResponse", VELKPAY_DUKPT_DATA_RESPONSE}}) {
            if (!r.count(field))
                continue;
            Bytes filled = data;
            filled.resize((data.size() + 7) / 8 * 8, 0);
            Block iv{};
            const Key dk = working_key(key, usage);
            ASSERT_EQ(velkpay_tdes_cbc_encrypt(filled.data(), filled.data(), filled.size(),
                                               iv.data(), dk.data(), dk.size()),
                      0);
            EXPECT_EQ(to_hex(filled), to_hex(from_hex(r.at(field)))) << field;
        }
    }
}

#ifdef VELK_HAVE_LIBCRYPTO
// The host derivation again, on libcrypto's DES: the IPEK halves by two-key
// EDE, then one key generation step per counter bit, highest first.
Key libcrypto_host_key(const Key &bdk, const Ksn &ksn) {
    const std::uint32_t counter = counter_of(ksn);
    unsigned char left[8];
    std::copy(ksn.begin(), ksn.begin() + 8, left);
    left[7] &= 0xE0;
    auto ede2 = [](const unsigned char *k, const unsigned char *in, unsigned char *out) {
        velk::test::oracle::ecb(k, in, out, true);
        velk::test::oracle::ecb(k + 8, out, out, false);
        velk::test::oracle::ecb(k, out, out, true);
    };
    const unsigned char mask[16] = {0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0,
                                    0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0};
    Key k, masked;
    for (int i = 0; i < 16; ++i)
        masked[i] = bdk[i] ^ mask[i];
    ede2(bdk.data(), left, k.data());
    ede2(masked.data(), left, k.data() + 8);
    Ksn reg = with_counter(ksn, 0);
    for (std::uint32_t bit = 1u << 20; bit; bit >>= 1) {
        if (!(counter & bit))
            continue;
        reg = with_counter(reg, counter_of(reg) | bit);
        Key next;
        for (int half = 0; half < 2; ++half) {
            // The right half under the key, the left under the masked key.
            Key use = k;
            if (half == 1)
                for (int i = 0; i < 16; ++i)
                    use[i] ^= mask[i];
            unsigned char x[8];
            for (int i = 0; i < 8; ++i)
                x[i] = reg[2 + i] ^ use[8 + i];
            velk::test::oracle::ecb(use.data(), x, x, true);
            for (int i = 0; i < 8; ++i)
                next[(half == 0 ? 8 : 0) + i] = x[i] ^ use[8 + i];
        }
        k = next;
    }
    return k;
}
#endif

TEST(DukptHost, AgreesWithDerivationOnLibcrypto) {
    VELK_REQUIRE_LIBCRYPTO();
#ifdef VELK_HAVE_LIBCRYPTO
    Random rng(0x64756b7074u);
    for (int trial = 0; trial < 200; ++trial) {
        const Key bdk = fixed<16>(rng.bytes(16));
        const Ksn ksn = fixed<10>(rng.bytes(10)); // every counter, any count of 1-bits
        EXPECT_EQ(to_hex(host_key(bdk, ksn)), to_hex(libcrypto_host_key(bdk, ksn)))
            << to_hex(bdk) << " " << to_hex(ksn);
    }
#endif
}

TEST(DukptHost, RefusesBadArguments) {
    const Key k{};
    Key out;
    out.fill(0x5A);
    for (int usage : {0, 6, -1, 100})
        EXPECT_EQ(velkpay_dukpt_working_key(k.data(), usage, out.data()), VELKPAY_E_KEY_USAGE);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0x5A; }))
        << "a refused call wrote its output";
    EXPECT_EQ(velkpay_dukpt_ipek(nullptr, published_iksn.data(), out.data()), VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_dukpt_transaction_key(k.data(), nullptr, out.data()), VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_dukpt_working_key(k.data(), VELKPAY_DUKPT_PIN, nullptr), VELKPAY_E_ARGUMENT);
}

TEST(DukptDevice, PublishedSequenceAndKeys) {
    const auto records = read_vectors("pay_dukpt_sequence.txt");
    ASSERT_FALSE(records.empty());
    for (const auto &r : records) {
        const Ksn iksn = fixed<10>(from_hex(r.at("IKSN")));
        velkpay_dukpt_device d = new_device(published_bdk, iksn);
        std::istringstream want(r.at("KSNs"));
        for (std::string hex; want >> hex;) {
            Ksn ksn;
            Key key;
            ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
            EXPECT_EQ(to_hex(ksn), to_hex(from_hex(hex)));
        }
    }
    // The published transaction keys that a device reaches in a short run
    // from its start or from a state saved before the rollover.
    std::map<std::string, std::string> published;
    for (const auto &r : read_vectors("pay_dukpt.txt"))
        if (r.count("Key"))
            published[to_hex(from_hex(r.at("KSN")))] = to_hex(from_hex(r.at("Key")));
    std::size_t seen = 0;
    for (std::uint32_t start : {1u, 0x0FF800u}) {
        velkpay_dukpt_device d = start == 1 ? new_device(published_bdk, published_iksn)
                                            : state_at(published_bdk, published_iksn, start);
        for (int i = 0; i < 21; ++i) {
            Ksn ksn;
            Key key;
            ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
            if (auto it = published.find(to_hex(ksn)); it != published.end()) {
                EXPECT_EQ(to_hex(key), it->second) << to_hex(ksn);
                ++seen;
            }
        }
    }
    EXPECT_EQ(seen, published.size()) << "a published key was not reached";
}

TEST(DukptDevice, AgreesWithHostOverLongRun) {
    Random rng(0x6c6f6e67u);
    const Key bdk = fixed<16>(rng.bytes(16));
    const Ksn iksn = with_counter(fixed<10>(rng.bytes(10)), 0);
    velkpay_dukpt_device d = new_device(bdk, iksn);
    // Block by block, so that the saved bytes can be compared with the state
    // written from the host's keys at each stop.
    std::uint32_t c = 1;
    for (int stop = 0; stop < 8; ++stop) {
        const velkpay_dukpt_device want = state_at(bdk, iksn, c);
        ASSERT_EQ(to_hex(d.opaque), to_hex(want.opaque)) << "state at counter " << c;
        ASSERT_EQ(run_against_host(d, bdk, iksn, c, 500), 500u);
        for (int i = 0; i < 500; ++i)
            c = next_used(c);
    }
}

// Starting points where the counter skips: ten 1-bits reached low or high,
// long runs of 1-bits, and the step into the top bit.
TEST(DukptDevice, SkipsCountersWithMoreThanTenOnes) {
    Random rng(0x736b6970u);
    const Key bdk = fixed<16>(rng.bytes(16));
    const Ksn iksn = with_counter(fixed<10>(rng.bytes(10)), 0);
    for (std::uint32_t start : {0x0003FEu, 0x0FFC00u, 0x07FE00u, 0x0AAAA8u, 0x155554u, 0x0F0F00u,
                                0x100001u, 0x1FC000u, 0x17FC00u}) {
        SCOPED_TRACE(start);
        ASSERT_LE(std::popcount(start), 10);
        velkpay_dukpt_device d = state_at(bdk, iksn, start);
        EXPECT_EQ(run_against_host(d, bdk, iksn, start, 400), 400u);
    }
}

TEST(DukptDevice, EndsAfterTheLastCounter) {
    Random rng(0x656e64u);
    const Key bdk = fixed<16>(rng.bytes(16));
    const Ksn iksn = with_counter(fixed<10>(rng.bytes(10)), 0);
    // The last 1,800 or so counters a device uses.
    const std::uint32_t start = 0x1F8000;
    velkpay_dukpt_device d = state_at(bdk, iksn, start);
    std::size_t expected_steps = 0;
    for (std::uint32_t c = start; c < st::counter_end; c = next_used(c))
        ++expected_steps;
    ASSERT_GT(expected_steps, 1000u);
    EXPECT_EQ(run_against_host(d, bdk, iksn, start, expected_steps + 5), expected_steps);
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_EXHAUSTED);
    Ksn ksn;
    Key key;
    ksn.fill(0x5A);
    key.fill(0x5A);
    const velkpay_dukpt_device before = d;
    EXPECT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), VELKPAY_E_DUKPT_EXHAUSTED);
    EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);
    EXPECT_TRUE(std::all_of(ksn.begin(), ksn.end(), [](auto b) { return b == 0x5A; }));
    EXPECT_TRUE(std::all_of(key.begin(), key.end(), [](auto b) { return b == 0x5A; }));
    // No key outlives the device.
    EXPECT_TRUE(std::all_of(d.opaque + st::registers_at, d.opaque + st::registers_end,
                            [](auto b) { return b == 0; }));
}

// How many counters a device has in all: those below 2^21 with one to ten
// 1-bits, sum of C(21, k) for k = 1..10, which is 2^20 - 1. The windows
// above show the device taking exactly these counters; running it through
// all of them costs seconds in an optimised build and far more under the
// sanitizers, so it is done only when VELKPAY_TEST_FULL_DUKPT is set.
TEST(DukptDevice, UsesEveryCounterWithAtMostTenOnes) {
    std::uint32_t count = 0;
    for (std::uint32_t c = 1; c < st::counter_end; c = next_used(c))
        ++count;
    EXPECT_EQ(count, 1048575u);
    if (std::getenv("VELKPAY_TEST_FULL_DUKPT") == nullptr)
        return;
    velkpay_dukpt_device d = new_device(published_bdk, published_iksn);
    std::uint32_t expected = 1, ran = 0;
    Ksn ksn;
    Key key;
    while (velkpay_dukpt_device_next(&d, ksn.data(), key.data()) == 0) {
        ASSERT_EQ(counter_of(ksn), expected);
        expected = next_used(expected);
        ++ran;
    }
    EXPECT_EQ(ran, 1048575u);
    EXPECT_EQ(counter_of(ksn), last_counter);
    EXPECT_EQ(to_hex(key),
              to_hex(host_key(published_bdk, with_counter(published_iksn, last_counter))));
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_EXHAUSTED);
}

TEST(DukptDevice, SavedStateLoadsAnywhere) {
    velkpay_dukpt_device d = new_device(published_bdk, published_iksn);
    // Pinned: the check word of this state as every platform must save it
    // (a layout that depended on word size or byte order would change it).
    EXPECT_EQ(st::stored_crc(std::span<const unsigned char, st::state_size>(d.opaque)),
              0x7E8ADECCu);
    Ksn ksn, ksn2;
    Key key, key2;
    for (int i = 0; i < 37; ++i)
        ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
    unsigned char saved[sizeof d.opaque];
    std::memcpy(saved, d.opaque, sizeof saved);
    velkpay_dukpt_device loaded;
    std::memcpy(loaded.opaque, saved, sizeof saved);
    EXPECT_EQ(velkpay_dukpt_device_check(&loaded), 0);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
        ASSERT_EQ(velkpay_dukpt_device_next(&loaded, ksn2.data(), key2.data()), 0);
        EXPECT_EQ(ksn, ksn2);
        EXPECT_EQ(key, key2);
    }
}

TEST(DukptDevice, RefusesEverySingleByteChange) {
    const velkpay_dukpt_device good = state_at(published_bdk, published_iksn, 0x0123);
    ASSERT_EQ(velkpay_dukpt_device_check(&good), 0);
    for (std::size_t at = 0; at < sizeof good.opaque; ++at) {
        for (unsigned flip : {0x01u, 0x80u, 0xFFu, 0x5Au}) {
            velkpay_dukpt_device bad = good;
            bad.opaque[at] ^= static_cast<unsigned char>(flip);
            ASSERT_EQ(velkpay_dukpt_device_check(&bad), VELKPAY_E_DUKPT_STATE)
                << "byte " << at << " ^ " << flip;
            Ksn ksn;
            Key key;
            const velkpay_dukpt_device before = bad;
            ASSERT_EQ(velkpay_dukpt_device_next(&bad, ksn.data(), key.data()),
                      VELKPAY_E_DUKPT_STATE);
            ASSERT_EQ(std::memcmp(&before, &bad, sizeof bad), 0);
        }
    }
}

// States whose check word is right but whose fields are not: what a wrong
// program, rather than damage, would write.
TEST(DukptDevice, RefusesInconsistentFields) {
    const velkpay_dukpt_device good = state_at(published_bdk, published_iksn, 0x0123);
    auto resealed = [&](std::size_t at, unsigned char value) {
        velkpay_dukpt_device d = good;
        d.opaque[at] = value;
        st::seal(std::span<unsigned char, st::state_size>(d.opaque));
        return velkpay_dukpt_device_check(&d);
    };
    EXPECT_EQ(resealed(st::magic_at, 'v'), VELKPAY_E_DUKPT_STATE);
    EXPECT_EQ(resealed(st::version_at, 2), VELKPAY_E_DUKPT_STATE);
    EXPECT_EQ(resealed(st::status_at, 0), VELKPAY_E_DUKPT_STATE);
    EXPECT_EQ(resealed(st::status_at, st::status_exhausted), VELKPAY_E_DUKPT_STATE);
    EXPECT_EQ(resealed(st::registers_end, 1), VELKPAY_E_DUKPT_STATE);
    // Counter 0, and a counter with eleven 1-bits.
    EXPECT_EQ(resealed(st::ksn_at + 9, 0x00), 0); // 0x0100: still a used counter
    velkpay_dukpt_device d = good;
    st::set_ksn_counter(d.opaque + st::ksn_at, 0);
    st::seal(std::span<unsigned char, st::state_size>(d.opaque));
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_STATE);
    st::set_ksn_counter(d.opaque + st::ksn_at, 0x7FF);
    st::seal(std::span<unsigned char, st::state_size>(d.opaque));
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_STATE);
}

TEST(DukptDevice, RefusesBadArguments) {
    velkpay_dukpt_device d;
    const Key ipek = ipek_of(published_bdk, published_iksn);
    const Ksn counting = with_counter(published_iksn, 1);
    EXPECT_EQ(velkpay_dukpt_device_init(&d, ipek.data(), counting.data()), VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_dukpt_device_init(nullptr, ipek.data(), published_iksn.data()),
              VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_dukpt_device_check(nullptr), VELKPAY_E_ARGUMENT);
    d = new_device(published_bdk, published_iksn);
    Key key;
    EXPECT_EQ(velkpay_dukpt_device_next(&d, nullptr, key.data()), VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_dukpt_device_check(&d), 0) << "a refused call changed the state";
    velkpay_dukpt_device_wipe(&d);
    EXPECT_TRUE(
        std::all_of(std::begin(d.opaque), std::end(d.opaque), [](auto b) { return b == 0; }));
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_STATE);
    velkpay_dukpt_device_wipe(nullptr);
}

} // namespace
