// SPDX-License-Identifier: MIT
// The three-key EDE key set-up in the C form velkfile and its tests use:
// velkcore.hpp's Ede3Schedule builds the schedules and their class, and
// this copies them out (the Ede3Schedule clears its own when it goes).
#include "three_key_ede.hpp"

#include <cstring>
#include <span>

#include "velkcore.hpp"

int des_3EDEinit_3keys(const unsigned char key[24], int /*keylen*/, des_subkeys ks1,
                       des_subkeys ks2, des_subkeys ks3) {
    const velk::Ede3Schedule s(std::span<const unsigned char, 24>(key, 24));
    std::memcpy(ks1, s.subkeys1(), sizeof(des_subkeys));
    std::memcpy(ks2, s.subkeys2(), sizeof(des_subkeys));
    std::memcpy(ks3, s.subkeys3(), sizeof(des_subkeys));
    return static_cast<int>(s.key_class());
}
