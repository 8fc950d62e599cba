// SPDX-License-Identifier: MIT
// Key classification and the key schedule builder. Internal to the library.
#pragma once

#include "velkcore.h"

namespace velk {

// The class of the 8 key bytes: 1 for the weak group, 2 for the semi-weak
// group, 0 for any other key. Parity bits are compared like any other bit.
int des_keycheck(const unsigned char key[8]);

// Writes all 32 words of the schedule of the 8 key bytes into ks.
void des_keyschedule(const unsigned char key[8], des_subkeys ks);

} // namespace velk
