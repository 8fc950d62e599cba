// SPDX-License-Identifier: MIT
// A C++ program built against the installed tree through
// find_package(velkcore CONFIG). It prints the FIPS 81 sample ciphertexts,
// the SP 800-67 three-key EDE sample, the header's version and, with a key
// known only at run time, a key check value and a CBC-MAC, which the test
// compares.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

#include <velkcore.hpp>

namespace {

void print_hex(const char *label, std::span<const unsigned char> bytes) {
    std::printf("%s ", label);
    for (unsigned char c : bytes) std::printf("%02x", c);
    std::printf("\n");
}

} // namespace

int main() {
    constexpr std::array<unsigned char, 8> key{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    constexpr std::string_view text = "Now is the time for all ";
    std::array<unsigned char, 24> buf;
    const velk::Schedule des(key);
    if (des.key_class() != velk::KeyClass::normal) return 1;

    auto block = [&](std::size_t i) { return std::span<unsigned char, 8>(buf.data() + i, 8); };
    std::copy(text.begin(), text.end(), buf.begin());
    for (std::size_t i = 0; i < buf.size(); i += 8) des.ecb_encrypt(block(i), block(i));
    print_hex("ecb", buf);
    constexpr std::array<unsigned char, 8> iv{0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
    std::copy(text.begin(), text.end(), buf.begin());
    velk::CbcEncryptor cbc(des, iv);
    for (std::size_t i = 0; i < buf.size(); i += 8) cbc(block(i), block(i));
    print_hex("cbc", buf);

    constexpr std::array<unsigned char, 24> key24{
        0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
        0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};
    constexpr std::string_view text3 = "The qufck brown fox jump";
    const velk::Ede3Schedule ede3(key24);
    if (ede3.key_class() != velk::KeyClass::normal) return 1;
    std::copy(text3.begin(), text3.end(), buf.begin());
    for (std::size_t i = 0; i < buf.size(); i += 8) ede3.ecb_encrypt(block(i), block(i));
    print_hex("ede3-ecb", buf);
    std::copy(text3.begin(), text3.end(), buf.begin());
    velk::CbcEncryptor cbc3(ede3, iv);
    for (std::size_t i = 0; i < buf.size(); i += 8) cbc3(block(i), block(i));
    print_hex("ede3-cbc", buf);
    std::printf("version %s %d.%d.%d\n", VELKCORE_VERSION_STRING, VELKCORE_VERSION_MAJOR,
                VELKCORE_VERSION_MINOR, VELKCORE_VERSION_PATCH);

    // A 16-byte key as a program would read it, without a cast.
    const std::vector<unsigned char> key16{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                           0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    const auto ede2 = velk::Ede2Schedule::from_bytes(key16);
    if (!ede2 || velk::Schedule::from_bytes(key16)) return 1;
    print_hex("kcv", velk::key_check_value(*ede2));
    const std::vector<unsigned char> data(text.begin(), text.end());
    print_hex("cbc-mac", velk::cbc_mac(des, data, velk::Padding::method1));
    return 0;
}
