// SPDX-License-Identifier: MIT
#include "system_random.hpp"

#include <cerrno>
#include <cstddef>

#include "velkpay.h"
#include "wipe.hpp"

#if defined(__has_include)
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#define VELKPAY_HAVE_GETRANDOM 1
#endif
#endif

namespace velk::pay {

// getrandom may return fewer bytes than asked (a signal during a large
// request) or fail with EINTR before any; both only mean "ask again".
int system_random(std::span<unsigned char> out) noexcept {
#ifdef VELKPAY_HAVE_GETRANDOM
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = getrandom(out.data() + got, out.size() - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        secure_wipe(out.data(), out.size());
        return VELKPAY_E_RANDOM;
    }
    return VELKPAY_OK;
#else
    secure_wipe(out.data(), out.size());
    return VELKPAY_E_RANDOM;
#endif
}

} // namespace velk::pay
