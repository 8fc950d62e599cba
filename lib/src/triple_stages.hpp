// SPDX-License-Identifier: MIT
// The stages of a triple block, shared by the library's triple families and
// the three-key EDE of the many-block library. Internal to the library.
#pragma once

#include <cstdint>

#include "block.hpp"

namespace velk {

// A triple block permutes once on the way in and once on the way out: the
// inverse permutation closing one stage and the initial permutation opening
// the next cancel. What remains between two stages is the exchange of the
// halves that single DES makes before its inverse permutation, so each
// stage takes the halves in the other order from the one before.
enum class Stage { encrypt, decrypt };

template <Stage stage>
[[gnu::always_inline]] inline void rounds(std::uint64_t &l, std::uint64_t &r,
                                          const std::uint32_t *ks) {
    wide_rounds<stage == Stage::encrypt>(l, r, ks);
}

// The 48 rounds between the one IP and the one IP^-1, on the halves in the
// rounds' wide form from the first round to the last.
template <Stage first, Stage second, Stage third>
[[gnu::always_inline]] inline void stages(std::uint32_t &l, std::uint32_t &r,
                                          const std::uint32_t *ka, const std::uint32_t *kb,
                                          const std::uint32_t *kc) {
    std::uint64_t wl = widen(l), wr = widen(r);
    rounds<first>(wl, wr, ka);
    rounds<second>(wr, wl, kb);
    rounds<third>(wl, wr, kc);
    l = narrow(wl);
    r = narrow(wr);
}

template <Stage first, Stage second, Stage third>
[[gnu::always_inline]] inline void triple(std::uint32_t &hi, std::uint32_t &lo, const std::uint32_t *ka,
                   const std::uint32_t *kb, const std::uint32_t *kc) {
    std::uint64_t l, r;
    permute_in(hi, lo, l, r);
    rounds<first>(l, r, ka);
    rounds<second>(r, l, kb);
    rounds<third>(l, r, kc);
    permute_out(l, r, hi, lo);
}

} // namespace velk
