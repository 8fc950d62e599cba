// A C++ program built against the installed tree through
// find_package(velkcore CONFIG). It prints the FIPS 81 sample ciphertexts
// that the test compares.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

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
    return 0;
}
