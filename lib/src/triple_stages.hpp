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
inline void rounds(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ks) {
    if constexpr (stage == Stage::encrypt)
        encrypt_rounds(l, r, ks);
    else
        decrypt_rounds(l, r, ks);
}

// The 48 rounds between the one IP and the one IP^-1.
template <Stage first, Stage second, Stage third>
inline void stages(std::uint32_t &l, std::uint32_t &r, const std::uint32_t *ka,
                   const std::uint32_t *kb, const std::uint32_t *kc) {
    rounds<first>(l, r, ka);
    rounds<second>(r, l, kb);
    rounds<third>(l, r, kc);
}

template <Stage first, Stage second, Stage third>
inline void triple(std::uint32_t &hi, std::uint32_t &lo, const std::uint32_t *ka,
                   const std::uint32_t *kb, const std::uint32_t *kc) {
    std::uint32_t l = hi, r = lo;
    initial_permutation(l, r);
    stages<first, second, third>(l, r, ka, kb, kc);
    final_permutation(l, r);
    hi = r;
    lo = l;
}

} // namespace velk
