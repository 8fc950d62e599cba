// SPDX-License-Identifier: MIT
// The one-bit known-answer sweep that velktext and velkkey share. Each program
// fixes one block at zero and walks a single set bit through the other, from
// the most significant bit of byte 0 (I=1) to the least significant bit of
// byte 7 (I=64), printing every vector and stopping at the first one whose
// decryption does not give the encrypted text back.
#pragma once

#include <cstdio>

#include "velkcore.h"

namespace velk::kat {

// Which block carries the walking bit; the other one stays all zero.
enum class Varying { plaintext, key };

// The library's block functions, des_ecbencode and des_ecbdecode. The sweep
// takes them as parameters so a test can hand it a faulty decryption.
using BlockFn = int (*)(const unsigned char in[8], unsigned char out[8], const des_subkeys ks);

// Runs the 64 vectors with the schedule `ks` rebuilt by des_init for each one,
// writes the report to `out` and returns the exit status: 0 when every vector
// decrypts back, 1 at the first that does not.
int run_sweep(Varying varying, des_subkeys ks, BlockFn encode, BlockFn decode, std::FILE *out);

} // namespace velk::kat
