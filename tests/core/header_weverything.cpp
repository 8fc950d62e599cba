// SPDX-License-Identifier: MIT
// velkcore.hpp as a user meets it, compiled by clang++ with -Weverything
// (less the groups about older C++ standards) and -Werror: the README's
// examples, written as a user would, must not make the header warn.
#include <velkcore.hpp>

#include <array>
#include <span>
#include <vector>

namespace example {

inline void cbc_and_cfb(std::span<std::array<unsigned char, 8>> blocks, std::span<unsigned char> stream) {
    std::array<unsigned char, 24> key{};
    std::array<unsigned char, 8> iv{}, reg = iv;
    velk::Eee3Schedule s(key);
    if (s.key_class() != velk::KeyClass::normal) { /* your choice */
    }
    velk::CbcEncryptor cbc(s, iv); // carries the chain
    for (auto &block : blocks)
        cbc(block, block);
    velk::CbcDecryptor back(s, iv);
    for (auto &block : blocks)
        back(block, block);
    s.cfb_encrypt(stream, stream, reg);
}

inline velk::Block macs(std::vector<unsigned char> key16, std::span<const unsigned char> data) {
    auto tdes = velk::Ede2Schedule::from_bytes(key16);
    if (!tdes)
        return {};
    std::array<unsigned char, 3> kcv = velk::key_check_value(*tdes);
    (void)kcv;
    velk::set_odd_parity(key16);
    velk::Block mac1 = velk::cbc_mac(*tdes, data, velk::Padding::method1);
    auto k1 = velk::Schedule::from_bytes(std::span(key16).first(8));
    auto k2 = velk::Schedule::from_bytes(std::span(key16).last(8));
    if (!k1 || !k2)
        return mac1;
    return velk::retail_mac(*k1, *k2, data, velk::Padding::method2);
}

} // namespace example
