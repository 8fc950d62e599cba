// SPDX-License-Identifier: MIT
// Clearing secrets so that the compiler cannot drop the stores. The one
// technique lives in velkcore.hpp, whose schedules clear themselves with it;
// the libraries and programs call it by this name.
#pragma once

#include "velkcore.hpp"

namespace velk {

using detail::secure_wipe;

} // namespace velk
