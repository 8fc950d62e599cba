// SPDX-License-Identifier: MIT
// DUKPT: the host side against the published answers; the originating
// device against the host over long runs, across counter skips and up to
// the end of the counter; the saved state's layout and its refusal of any
// damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <sstream>
#include <string>

#include "dukpt_state.hpp"
#include "velk_test.hpp"
#include "velkpay.h"

namespace {

using namespace velk::test;
namespace st = velk::pay::dukpt;

using Ksn = std::array<unsigned char, 10>;
using Key = std::array<unsigned char, 16>;
using Device = velkpay_dukpt_device;

template <std::size_t N> std::array<unsigned char, N> fixed(const std::string &hex) {
    const Bytes b = from_hex(hex);
    std::array<unsigned char, N> a{};
    EXPECT_EQ(b.size(), N) << hex;
    std::copy_n(b.begin(), std::min(N, b.size()), a.begin());
    return a;
}

Ksn with_counter(Ksn ksn, std::uint32_t counter) {
    st::set_ksn_counter(ksn.data(), counter);
    return ksn;
}

// The counter a device uses after `c`: the next with at most ten 1-bits, or
// 2^21 when there is none.
std::uint32_t next_used(std::uint32_t c) {
    do
        ++c;
    while (c < st::counter_end && std::popcount(c) > 10);
    return c;
}

Key host_key(const Key &bdk, const Ksn &ksn) {
    Key k{};
    EXPECT_EQ(velkpay_dukpt_transaction_key(bdk.data(), ksn.data(), k.data()), 0);
    return k;
}

Key working_key(const Key &key, int usage) {
    Key k{};
    EXPECT_EQ(velkpay_dukpt_working_key(key.data(), usage, k.data()), 0);
    return k;
}

Device new_device(const Key &bdk, const Ksn &iksn) {
    Key ipek{};
    Device d{};
    EXPECT_EQ(velkpay_dukpt_ipek(bdk.data(), iksn.data(), ipek.data()), 0);
    EXPECT_EQ(velkpay_dukpt_device_init(&d, ipek.data(), iksn.data()), 0);
    return d;
}

// The state a device reaches at counter `c`, written from the host's keys.
// Register j holds the key of the next counter whose lowest 1-bit is 2^j,
// from c's own lowest bit up; it is zero (erased after use, or not yet
// written) below that bit and where c has bit j set above it.
Device state_at(const Key &bdk, const Ksn &iksn, std::uint32_t c) {
    Device d{};
    const std::span<unsigned char, st::state_size> s(d.opaque);
    std::copy(st::magic.begin(), st::magic.end(), s.begin());
    s[st::version_at] = st::layout_version;
    s[st::status_at] = st::status_active;
    const Ksn ksn = with_counter(iksn, c);
    std::copy(ksn.begin(), ksn.end(), s.begin() + st::ksn_at);
    const int lowest = std::countr_zero(c);
    for (int j = lowest; j < 21; ++j) {
        if (j > lowest && (c >> j & 1u))
            continue;
        const Key k = host_key(bdk, with_counter(iksn, (c & ~((2u << j) - 1)) | 1u << j));
        std::copy(k.begin(), k.end(), s.begin() + st::registers_at + 16 * j);
    }
    st::seal(s);
    return d;
}

// Runs the device for up to `steps` transactions, checking that each takes
// the next counter with at most ten 1-bits and the host's key for its KSN.
// Returns the number run.
std::size_t run_against_host(Device &d, const Key &bdk, const Ksn &iksn, std::uint32_t from,
                             std::size_t steps) {
    std::size_t done = 0;
    for (std::uint32_t c = from; done < steps && c < st::counter_end; c = next_used(c), ++done) {
        Ksn ksn;
        Key key;
        if (velkpay_dukpt_device_next(&d, ksn.data(), key.data()) != 0 ||
            ksn != with_counter(iksn, c) || key != host_key(bdk, ksn)) {
            ADD_FAILURE() << "device and host part at counter " << c;
            break;
        }
    }
    return done;
}

const Key published_bdk = fixed<16>("0123456789ABCDEFFEDCBA9876543210");
const Ksn published_iksn = fixed<10>("FFFF9876543210E00000");

std::string prefix_hex(const velk::test::Block &b, std::size_t n) {
    return to_hex(Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)));
}

// Every field of every record checked: keys, the PIN block under the PIN
// key, MACs (algorithm 3, padding 1) under the MAC keys, and the data
// zero-filled and CBC-encrypted under the data keys.
TEST(DukptHost, PublishedAnswers) {
    const auto records = read_vectors("pay_dukpt.txt");
    ASSERT_GE(records.size(), 20u);
    for (const auto &r : records) {
        SCOPED_TRACE(r.at("KSN"));
        const Key bdk = fixed<16>(r.at("BDK"));
        const Ksn ksn = fixed<10>(r.at("KSN"));
        if (r.count("IPEK")) {
            Key ipek, ipek_counting;
            ASSERT_EQ(velkpay_dukpt_ipek(bdk.data(), ksn.data(), ipek.data()), 0);
            const Ksn counting = with_counter(ksn, 0x1ABCDE); // the counter never enters
            ASSERT_EQ(velkpay_dukpt_ipek(bdk.data(), counting.data(), ipek_counting.data()), 0);
            EXPECT_EQ(to_hex(ipek), to_hex(from_hex(r.at("IPEK"))));
            EXPECT_EQ(ipek_counting, ipek);
            EXPECT_EQ(host_key(bdk, with_counter(ksn, 0)), ipek);
            continue;
        }
        const Key key = host_key(bdk, ksn);
        if (r.count("Key")) {
            EXPECT_EQ(to_hex(key), to_hex(from_hex(r.at("Key"))));
        }
        if (r.count("PinBlock")) {
            const std::string &pin = r.at("PIN"), &pan = r.at("PAN");
            const Key pek = working_key(key, VELKPAY_DUKPT_PIN);
            velk::test::Block block;
            ASSERT_EQ(velkpay_pin_block_encipher(0, pin.data(), pin.size(), pan.data(), pan.size(),
                                                 nullptr, block.data(), pek.data(), pek.size()),
                      0);
            EXPECT_EQ(to_hex(block), to_hex(from_hex(r.at("PinBlock"))));
        }
        const Bytes data = from_hex(r.at("Data"));
        const std::map<std::string, int> usages = {{"MacRequest", VELKPAY_DUKPT_MAC_REQUEST},
                                                   {"MacResponse", VELKPAY_DUKPT_MAC_RESPONSE},
                                                   {"DataRequest", VELKPAY_DUKPT_DATA_REQUEST},
                                                   {"DataResponse", VELKPAY_DUKPT_DATA_RESPONSE}};
        for (const auto &[field, usage] : usages) {
            if (!r.count(field))
                continue;
            const Bytes want = from_hex(r.at(field));
            const Key wk = working_key(key, usage);
            if (field.starts_with("Mac")) {
                velk::test::Block mac;
                ASSERT_EQ(velkpay_mac_alg3(data.data(), data.size(), VELKPAY_PAD_METHOD1,
                                           mac.data(), wk.data()),
                          0);
                EXPECT_EQ(prefix_hex(mac, want.size()), to_hex(want)) << field;
            } else {
                Bytes filled = data;
                filled.resize((data.size() + 7) / 8 * 8, 0);
                velk::test::Block iv{};
                ASSERT_EQ(velkpay_tdes_cbc_encrypt(filled.data(), filled.data(), filled.size(),
                                                   iv.data(), wk.data(), wk.size()),
                          0);
                EXPECT_EQ(to_hex(filled), to_hex(want)) << field;
            }
        }
    }
}

TEST(DukptHost, RefusesUnknownUsage) {
    Key out;
    out.fill(0x5A);
    for (int usage : {0, 6, -1})
        EXPECT_EQ(velkpay_dukpt_working_key(published_bdk.data(), usage, out.data()),
                  VELKPAY_E_KEY_USAGE);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0x5A; }));
    EXPECT_EQ(velkpay_dukpt_transaction_key(published_bdk.data(), nullptr, out.data()),
              VELKPAY_E_ARGUMENT);
}

// The published KSN sequence, and the published keys a device reaches from
// its start and from a state saved before the rollover sequence.
TEST(DukptDevice, PublishedSequenceAndKeys) {
    for (const auto &r : read_vectors("pay_dukpt_sequence.txt")) {
        Device d = new_device(published_bdk, fixed<10>(r.at("IKSN")));
        std::istringstream want(r.at("KSNs"));
        for (std::string hex; want >> hex;) {
            Ksn ksn;
            Key key;
            ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
            EXPECT_EQ(to_hex(ksn), to_hex(from_hex(hex)));
        }
    }
    std::map<std::string, std::string> published;
    for (const auto &r : read_vectors("pay_dukpt.txt"))
        if (r.count("Key"))
            published[to_hex(from_hex(r.at("KSN")))] = to_hex(from_hex(r.at("Key")));
    std::size_t seen = 0;
    for (const std::uint32_t start : {1u, 0x0FF800u}) {
        Device d = start == 1 ? new_device(published_bdk, published_iksn)
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

// 4,000 transactions from the start, the saved bytes compared at each stop
// with the state written from the host's keys; then runs from states at
// counters where the counter skips (ten 1-bits reached low or high, long
// runs of 1-bits, the top bit), and through the last counter to the end.
TEST(DukptDevice, AgreesWithHost) {
    Random rng(0x6c6f6e67u);
    const Key bdk = fixed<16>(to_hex(rng.bytes(16)));
    const Ksn iksn = with_counter(fixed<10>(to_hex(rng.bytes(10))), 0);
    Device d = new_device(bdk, iksn);
    std::uint32_t c = 1;
    for (int stop = 0; stop < 8; ++stop) {
        ASSERT_EQ(to_hex(d.opaque), to_hex(state_at(bdk, iksn, c).opaque)) << "counter " << c;
        ASSERT_EQ(run_against_host(d, bdk, iksn, c, 500), 500u);
        for (int i = 0; i < 500; ++i)
            c = next_used(c);
    }
    for (const std::uint32_t start :
         {0x0003FEu, 0x0FFC00u, 0x07FE00u, 0x0AAAA8u, 0x155554u, 0x100001u, 0x1FC000u}) {
        Device from = state_at(bdk, iksn, start);
        EXPECT_EQ(run_against_host(from, bdk, iksn, start, 300), 300u) << start;
    }

    const std::uint32_t near_end = 0x1F8000;
    std::size_t left = 0;
    for (std::uint32_t n = near_end; n < st::counter_end; n = next_used(n))
        ++left;
    ASSERT_GT(left, 1000u);
    d = state_at(bdk, iksn, near_end);
    EXPECT_EQ(run_against_host(d, bdk, iksn, near_end, left + 5), left);
    Ksn ksn{};
    Key key{};
    const Device before = d;
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_EXHAUSTED);
    EXPECT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), VELKPAY_E_DUKPT_EXHAUSTED);
    EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);
    EXPECT_EQ(key, Key{}) << "an exhausted device gave a key";
    EXPECT_TRUE(std::all_of(d.opaque + st::registers_at, d.opaque + st::registers_end, [](auto b) {
        return b == 0;
    })) << "a key outlived the device";
}

// The counters a device has in all: those below 2^21 with one to ten
// 1-bits, 2^20 - 1 of them. The runs above show the device taking exactly
// these; running it through all of them costs seconds even when optimised,
// so it is done only when VELKPAY_TEST_FULL_DUKPT is set.
TEST(DukptDevice, UsesEveryCounterWithAtMostTenOnes) {
    std::uint32_t count = 0, last = 0;
    for (std::uint32_t c = 1; c < st::counter_end; c = next_used(c), ++count)
        last = c;
    EXPECT_EQ(count, 1048575u);
    EXPECT_EQ(last, 0x1FF800u);
    if (std::getenv("VELKPAY_TEST_FULL_DUKPT") == nullptr)
        return;
    Device d = new_device(published_bdk, published_iksn);
    std::uint32_t expected = 1, ran = 0;
    Ksn ksn;
    Key key;
    for (; velkpay_dukpt_device_next(&d, ksn.data(), key.data()) == 0; ++ran) {
        ASSERT_EQ(st::ksn_counter(ksn.data()), expected);
        expected = next_used(expected);
    }
    EXPECT_EQ(ran, count);
    EXPECT_EQ(key, host_key(published_bdk, with_counter(published_iksn, last)));
}

// Saved bytes load anywhere: a copy goes on exactly as the original, and
// the check word of a fresh state is pinned, so a layout that depended on
// word size or byte order would fail here on the cross-built targets.
TEST(DukptDevice, SavedStateLoadsAnywhere) {
    Device d = new_device(published_bdk, published_iksn);
    EXPECT_EQ(st::stored_crc(std::span<const unsigned char, st::state_size>(d.opaque)),
              0x7E8ADECCu);
    Ksn ksn, ksn2;
    Key key, key2;
    for (int i = 0; i < 37; ++i)
        ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
    Device loaded;
    std::memcpy(loaded.opaque, d.opaque, sizeof loaded.opaque);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(velkpay_dukpt_device_next(&d, ksn.data(), key.data()), 0);
        ASSERT_EQ(velkpay_dukpt_device_next(&loaded, ksn2.data(), key2.data()), 0);
        EXPECT_EQ(ksn, ksn2);
        EXPECT_EQ(key, key2);
    }
}

TEST(DukptDevice, RefusesEverySingleByteChange) {
    const Device good = state_at(published_bdk, published_iksn, 0x0123);
    ASSERT_EQ(velkpay_dukpt_device_check(&good), 0);
    for (std::size_t at = 0; at < sizeof good.opaque; ++at) {
        for (const unsigned flip : {0x01u, 0x80u, 0xFFu, 0x5Au}) {
            Device bad = good;
            bad.opaque[at] ^= static_cast<unsigned char>(flip);
            const Device before = bad;
            Ksn ksn;
            Key key;
            ASSERT_EQ(velkpay_dukpt_device_check(&bad), VELKPAY_E_DUKPT_STATE) << at;
            ASSERT_EQ(velkpay_dukpt_device_next(&bad, ksn.data(), key.data()),
                      VELKPAY_E_DUKPT_STATE);
            ASSERT_EQ(std::memcmp(&before, &bad, sizeof bad), 0);
        }
    }
    // Fields a wrong program, rather than damage, would write: the check
    // word is right, the contents are not.
    for (const std::uint32_t counter : {0u, 0x7FFu}) {
        Device d = good;
        st::set_ksn_counter(d.opaque + st::ksn_at, counter);
        st::seal(std::span<unsigned char, st::state_size>(d.opaque));
        EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_STATE) << counter;
    }
}

TEST(DukptDevice, RefusesBadArguments) {
    Device d = new_device(published_bdk, published_iksn);
    const Ksn counting = with_counter(published_iksn, 1);
    EXPECT_EQ(velkpay_dukpt_device_init(&d, published_bdk.data(), counting.data()),
              VELKPAY_E_ARGUMENT);
    Key key;
    EXPECT_EQ(velkpay_dukpt_device_next(&d, nullptr, key.data()), VELKPAY_E_ARGUMENT);
    EXPECT_EQ(velkpay_dukpt_device_check(&d), 0) << "a refused call changed the state";
    velkpay_dukpt_device_wipe(&d);
    EXPECT_TRUE(
        std::all_of(std::begin(d.opaque), std::end(d.opaque), [](auto b) { return b == 0; }));
    EXPECT_EQ(velkpay_dukpt_device_check(&d), VELKPAY_E_DUKPT_STATE);
}

} // namespace
