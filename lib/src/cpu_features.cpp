// SPDX-License-Identifier: MIT
// The one processor-feature check of the library and the many-block path.
//
// It is not the compiler's __builtin_cpu_supports: that reads a table that
// libgcc.a (or compiler-rt) fills in from a load-time constructor, so linking
// it would put the runtime's writable data and constructor into the library,
// beside the one word below; and g++ and clang builds would read it through
// different runtimes whose lists of features differ from version to version.
#include "cpu_features.hpp"

#include <atomic>

namespace velk::cpu {
namespace {

// The features as has() reports them, plus bit 0 once they have been read.
// The only writable data of the library; racing first reads store the same
// value.
std::atomic<std::uint32_t> cpu_features{0};

constexpr std::uint32_t features_read = 1u;

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
struct Regs {
    unsigned a, b, c, d;
};

Regs cpuid(unsigned leaf) {
    Regs r{};
    __asm__("cpuid" : "=a"(r.a), "=b"(r.b), "=c"(r.c), "=d"(r.d) : "a"(leaf), "c"(0u));
    return r;
}

std::uint32_t read_features() {
    std::uint32_t f = features_read;
    const unsigned max_leaf = cpuid(0).a;
    const Regs one = cpuid(1);
    const bool osxsave = (one.c >> 27) & 1u, avx = (one.c >> 28) & 1u;
    if (max_leaf < 7 || !osxsave || !avx)
        return f;
    unsigned xlo = 0, xhi = 0;
    __asm__("xgetbv" : "=a"(xlo), "=d"(xhi) : "c"(0u));
    // The state the operating system saves: XMM and YMM (bits 1, 2), and
    // for AVX-512 also the opmask, upper ZMM and high ZMM (bits 5-7).
    const bool os_ymm = (xlo & 0x06u) == 0x06u, os_zmm = (xlo & 0xE6u) == 0xE6u;
    const Regs seven = cpuid(7);
    const bool avx2_ = (seven.b >> 5) & 1u, f_ = (seven.b >> 16) & 1u, bw = (seven.b >> 30) & 1u,
               bitalg = (seven.c >> 12) & 1u;
    if (os_ymm && avx2_)
        f |= avx2;
    if (os_zmm && f_)
        f |= avx512f;
    if (os_zmm && f_ && bw && bitalg)
        f |= avx512_bw_bitalg;
    return f;
}
#else
std::uint32_t read_features() {
    return features_read;
}
#endif

} // namespace

bool has(Feature f) {
    std::uint32_t features = cpu_features.load(std::memory_order_relaxed);
    if (features == 0) {
        features = read_features();
        cpu_features.store(features, std::memory_order_relaxed);
    }
    return (features & f) != 0;
}

} // namespace velk::cpu
