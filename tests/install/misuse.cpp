// SPDX-License-Identifier: MIT
// Misuse that the C++ interface turns into compile errors. Built once per
// VELK_MISUSE value by check_misuse.cmake: "control" must compile, and every
// other case must fail on the line that carries its name in a comment.
#include <array>
#include <optional>
#include <vector>

#include "velkcore.hpp"

int main() {
    const std::array<unsigned char, 8> key8{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    const std::array<unsigned char, 16> key16{};
    const std::array<unsigned char, 24> key24{};
    std::array<unsigned char, 8> block{}, out{}, reg{};
    unsigned char c_block[8] = {0};
    std::vector<unsigned char> data(16);

    // The control: every call below in its right form.
    const velk::Schedule des(key8);
    const velk::Ede2Schedule ede2(key16);
    const velk::Eee3Schedule eee3(key24);
    des.ecb_encrypt(block, out);
    des.ecb_decrypt(c_block, c_block);
    ede2.cbc_encrypt(block, out, key8);
    eee3.cfb_encrypt(data, data, reg);
    des.ofb(c_block, out, reg);
    ede2.cfb_decrypt(block, data, reg);
    velk::CbcEncryptor chain(des, key8);
    chain(block, out);
    velk::CbcDecryptor<velk::Ede2Schedule> unchain(ede2, key8);
    unchain(out, block);
    (void)(des.key_class() == velk::KeyClass::normal);
    const velk::Ede3Schedule ede3(key24);
    ede3.cbc_decrypt(block, out, key8);
    ede3.ofb(data, data, reg);
    velk::CbcEncryptor ede3_chain(ede3, key8);
    const std::optional<velk::Ede2Schedule> run_time = velk::Ede2Schedule::from_bytes(data);
    (void)run_time;
    (void)velk::key_check_value(eee3);
    (void)velk::cbc_mac(ede2, data, velk::Padding::method2);
    (void)velk::retail_mac(des, des, block, velk::Padding::method1);
    velk::set_odd_parity(block);
    (void)velk::has_odd_parity(key8);

#if defined(VELK_MISUSE_short_block)
    std::array<unsigned char, 7> shortb{};
    des.ecb_encrypt(shortb, out); // short_block
#elif defined(VELK_MISUSE_long_key)
    const velk::Schedule bad(key16); // long_key
#elif defined(VELK_MISUSE_ede2_short_key)
    const velk::Ede2Schedule bad(key8); // ede2_short_key
#elif defined(VELK_MISUSE_eee3_wrong_key)
    const velk::Eee3Schedule bad(key16); // eee3_wrong_key
#elif defined(VELK_MISUSE_dynamic_block)
    des.ecb_encrypt(data, out); // dynamic_block
#elif defined(VELK_MISUSE_wrong_iv)
    des.cbc_encrypt(block, out, key16); // wrong_iv
#elif defined(VELK_MISUSE_const_output)
    des.ecb_encrypt(block, key8); // const_output
#elif defined(VELK_MISUSE_text_key)
    const velk::Schedule bad("01234567"); // text_key
#elif defined(VELK_MISUSE_wrong_register)
    std::array<unsigned char, 16> reg16{};
    des.ofb(data, data, reg16); // wrong_register
#elif defined(VELK_MISUSE_implicit_schedule)
    const velk::Schedule bad = key8; // implicit_schedule
#elif defined(VELK_MISUSE_short_output)
    std::array<unsigned char, 16> in16{};
    des.ofb(in16, out, reg); // short_output
#elif defined(VELK_MISUSE_short_output_span)
    const std::span<const unsigned char, 9> in9(data.data(), 9);
    eee3.cfb_decrypt(in9, std::span<unsigned char, 8>(out), reg); // short_output_span
#elif defined(VELK_MISUSE_dangling_schedule)
    velk::CbcEncryptor<velk::Schedule> bad(velk::Schedule(key8), key8); // dangling_schedule
#elif defined(VELK_MISUSE_dangling_deduced)
    velk::CbcDecryptor bad(velk::Ede2Schedule(key16), key8); // dangling_deduced
#elif defined(VELK_MISUSE_ede3_wrong_key)
    const velk::Ede3Schedule bad(key16); // ede3_wrong_key
#elif defined(VELK_MISUSE_unchecked_from_bytes)
    const velk::Schedule bad = velk::Schedule::from_bytes(data); // unchecked_from_bytes
#elif defined(VELK_MISUSE_const_parity)
    velk::set_odd_parity(key8); // const_parity
#elif defined(VELK_MISUSE_retail_mac_triple)
    (void)velk::retail_mac(ede2, ede2, data, velk::Padding::method1); // retail_mac_triple
#elif defined(VELK_MISUSE_mac_not_a_schedule)
    (void)velk::cbc_mac(key8, data, velk::Padding::method1); // mac_not_a_schedule
#endif
    return 0;
}
