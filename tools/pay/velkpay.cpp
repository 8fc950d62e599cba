// SPDX-License-Identifier: MIT
// velkpay: the triple-DES computations of payment and smart-card systems on
// the command line. The subcommands live in cli.cpp and beside it; main
// hands them the standard streams.
#include <cstdio>

#include "commands.hpp"

int main(int argc, char **argv) {
    return velkpay::cli::run(argc, argv, velkpay::cli::Io{stdin, stdout, stderr});
}
