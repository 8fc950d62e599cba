// SPDX-License-Identifier: MIT
// The C++20 layer, velkpay.hpp, built against the installed tree through
// find_package(velkpay): a key check value of each kind, the SP 800-38B
// two-key CMAC example and the X9.24-1:2009 PIN key of the second
// transaction, which the test compares; and a refusal with its text.
#include <array>
#include <cstdio>
#include <span>

#include <velkpay.hpp>

namespace {

void print_hex(const char *label, std::span<const unsigned char> bytes) {
    std::printf("%s ", label);
    for (unsigned char c : bytes) std::printf("%02x", c);
    std::printf("\n");
}

} // namespace

int main() {
    namespace pay = velk::pay;
    constexpr std::array<unsigned char, 16> key{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    constexpr std::array<unsigned char, 16> cmac_key{0x4c, 0xf1, 0x51, 0x34, 0xa2, 0x85,
                                                     0x0d, 0xd5, 0x8a, 0x3d, 0x10, 0xba,
                                                     0x80, 0x57, 0x0d, 0x38};
    constexpr std::array<unsigned char, 20> msg{0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f,
                                                0x96, 0xe9, 0x3d, 0x7e, 0x11, 0x73, 0x93,
                                                0x17, 0x2a, 0xae, 0x2d, 0x8a, 0x57};
    constexpr pay::Ksn ksn{0xff, 0xff, 0x98, 0x76, 0x54, 0x32, 0x10, 0xe0, 0x00, 0x02};

    const auto kcv = pay::kcv(key);
    const auto kcv_cmac = pay::kcv_cmac(key);
    const auto mac = pay::cmac(msg, cmac_key);
    const auto txn = pay::dukpt_transaction_key(key, ksn);
    if (!kcv || !kcv_cmac || !mac || !txn) return 1;
    const auto pin_key = pay::dukpt_working_key(txn->span(), pay::KeyUsage::pin);
    if (!pin_key) return 1;
    print_hex("kcv", *kcv);
    print_hex("kcv-cmac", *kcv_cmac);
    print_hex("cmac", *mac);
    print_hex("pin-key", pin_key->span());

    const auto refused = pay::kcv(std::span(key).first(15));
    std::printf("refused %s\n", refused.status() == pay::Status(VELKPAY_E_KEY_LENGTH)
                                    ? "key-length"
                                    : refused.status().message());
    return 0;
}
