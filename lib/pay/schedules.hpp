// SPDX-License-Identifier: MIT
// Keys as the library's functions take them: a length that says which
// cipher. Internal to libvelkpay; the ciphers themselves are velkcore.hpp's
// schedules, which clear their subkeys when they go out of scope.
#pragma once

#include <cstddef>
#include <span>
#include <utility>

#include "velkcore.hpp"
#include "velkpay.h"

namespace velk::pay {

// Calls f(schedule) with the schedule an 8-byte (single DES), 16-byte
// (two-key EDE) or 24-byte (three-key EDE) key makes, and returns 0; any
// other length is refused before anything is computed.
template <class F> int with_des_schedule(const unsigned char *key, std::size_t length, F &&f) {
    switch (length) {
    case Schedule::key_size:
        std::forward<F>(f)(Schedule(std::span<const unsigned char, 8>(key, 8)));
        return VELKPAY_OK;
    case Ede2Schedule::key_size:
        std::forward<F>(f)(Ede2Schedule(std::span<const unsigned char, 16>(key, 16)));
        return VELKPAY_OK;
    case Ede3Schedule::key_size:
        std::forward<F>(f)(Ede3Schedule(std::span<const unsigned char, 24>(key, 24)));
        return VELKPAY_OK;
    default:
        return VELKPAY_E_KEY_LENGTH;
    }
}

// The triple-DES keys only (16 or 24 bytes), for the functions that refuse
// single DES.
template <class F> int with_tdes_schedule(const unsigned char *key, std::size_t length, F &&f) {
    if (length != Ede2Schedule::key_size && length != Ede3Schedule::key_size)
        return VELKPAY_E_KEY_LENGTH;
    return with_des_schedule(key, length, std::forward<F>(f));
}

} // namespace velk::pay
