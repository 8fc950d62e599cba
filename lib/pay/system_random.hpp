// SPDX-License-Identifier: MIT
// The system's random source, for the random fills and paddings that a
// caller does not supply. Internal to libvelkpay.
#pragma once

#include <span>

namespace velk::pay {

// Fills `out` from the kernel's random source (getrandom), waiting until it
// is seeded, and returns 0; VELKPAY_E_RANDOM when the source fails, with
// `out` then cleared.
int system_random(std::span<unsigned char> out) noexcept;

} // namespace velk::pay
