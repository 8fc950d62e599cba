// SPDX-License-Identifier: MIT
// Set-ups and mode calls from several threads at once: every intermediate
// block lives in the call, so each thread gets exactly the results computed
// beforehand on one thread. Run under ThreadSanitizer by the tsan preset.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "families.hpp"

namespace {

using namespace velk::test;

struct Expected {
    const Family *f;
    Bytes key, data;
    Block iv;
    int cls;
    Bytes ecb[2], cbc[2], stream[4];
    Block reg[4];
};

Expected compute(const Family &f, Bytes key, Random &rng) {
    Expected e{&f, std::move(key), rng.bytes(8 * 4), rng.block(), 0, {}, {}, {}, {}};
    Schedules ks;
    e.cls = f.init(e.key.data(), ks);
    for (int enc = 0; enc < 2; ++enc) {
        e.ecb[enc] = run_ecb(f, enc, ks, e.data);
        e.cbc[enc] = run_cbc(f, enc, ks, e.iv, e.data);
    }
    for (Stream s : all_streams) {
        const int i = static_cast<int>(s);
        e.reg[i] = e.iv;
        e.stream[i] = run_stream(f, s, ks, e.reg[i], e.data);
    }
    return e;
}

// The number of results that differ from the expected ones.
int check(const Expected &e) {
    Schedules ks;
    int wrong = e.f->init(e.key.data(), ks) != e.cls;
    for (int enc = 0; enc < 2; ++enc) {
        wrong += run_ecb(*e.f, enc, ks, e.data) != e.ecb[enc];
        wrong += run_cbc(*e.f, enc, ks, e.iv, e.data) != e.cbc[enc];
    }
    for (Stream s : all_streams) {
        const int i = static_cast<int>(s);
        Block reg = e.iv;
        wrong += run_stream(*e.f, s, ks, reg, e.data) != e.stream[i];
        wrong += reg != e.reg[i];
    }
    return wrong;
}

TEST(Threads, ConcurrentSetupsAndModeCallsGiveTheSingleThreadedResults) {
    Random rng(31);
    std::vector<Expected> cases;
    const Bytes weak_semi = from_hex("0101010101010101 01FE01FE01FE01FE 0123456789abcdef");
    for (const Family *f : all_families) {
        cases.push_back(
            compute(*f, Bytes(weak_semi.begin(), weak_semi.begin() + f->key_bytes), rng));
        for (int i = 0; i < 3; ++i)
            cases.push_back(compute(*f, rng.bytes(f->key_bytes), rng));
    }
    std::atomic<int> wrong{0}, checked{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round)
                for (std::size_t i = 0; i < cases.size(); ++i) {
                    // Each thread walks the cases from its own starting point,
                    // so different functions overlap in time.
                    wrong += check(cases[(i + static_cast<std::size_t>(t) * 3) % cases.size()]);
                    ++checked;
                }
        });
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(checked.load(), 4 * 25 * static_cast<int>(cases.size()));
}

} // namespace
