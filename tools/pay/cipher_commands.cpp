// SPDX-License-Identifier: MIT
// velkpay encrypt, decrypt, kcv, cmac and mac: triple DES over whole blocks,
// key check values and MACs, each a scan of its words and one library call.
#include <cstring>
#include <string>

#include "commands.hpp"
#include "velkpay.h"

namespace velkpay::cli {

namespace {

struct CipherArguments {
    bool decrypt = false;
    bool cbc = false;
    const char *iv = nullptr; // null: a zero IV
    char *key = nullptr;
    char *data = nullptr;
};

int cipher(const CipherArguments &a, const Io &io) {
    Key key;
    if (!read_key(io, "KEY", a.key, triple_key_sizes, key))
        return exit_refused;
    unsigned char iv[8] = {};
    if (a.iv != nullptr && !read_hex(io, "IV", a.iv, iv, sizeof iv))
        return exit_refused;
    Bytes data;
    if (!read_data(io, "DATA", a.data, data))
        return exit_refused;
    if (data.size() % 8 != 0)
        return refuse(io, "DATA: " + std::to_string(data.size()) +
                              " bytes, not a whole number of 8-byte blocks");
    Bytes result(data.size());
    int rc;
    if (a.cbc)
        rc = (a.decrypt ? velkpay_tdes_cbc_decrypt : velkpay_tdes_cbc_encrypt)(
            data.data(), result.data(), data.size(), iv, key.bytes, key.length);
    else
        rc = (a.decrypt ? velkpay_tdes_ecb_decrypt : velkpay_tdes_ecb_encrypt)(
            data.data(), result.data(), data.size(), key.bytes, key.length);
    if (rc != VELKPAY_OK)
        return refuse_code(io, "KEY", rc);
    return put_hex(io, result.data(), result.size());
}

int cipher_command(Words words, const Io &io, bool decrypt) {
    Scan s;
    scan(words.list, "m:i:", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    CipherArguments a;
    a.decrypt = decrypt;
    if (!s.has('m'))
        return misuse(io, "option -m is required", words.usage);
    if (std::strcmp(s.get('m'), "cbc") == 0)
        a.cbc = true;
    else if (std::strcmp(s.get('m'), "ecb") != 0)
        return misuse(io, "-m takes ecb or cbc", words.usage);
    if (s.has('i') && !a.cbc)
        return misuse(io, "-i is for CBC only", words.usage);
    if (s.operands.size() != 2)
        return misuse(io, "expected KEY and DATA", words.usage);
    a.iv = s.get('i');
    a.key = s.operands[0];
    a.data = s.operands[1];
    return cipher(a, io);
}

} // namespace

int encrypt_command(Words words, const Io &io) {
    return cipher_command(words, io, false);
}

int decrypt_command(Words words, const Io &io) {
    return cipher_command(words, io, true);
}

int kcv_command(Words words, const Io &io) {
    Scan s;
    scan(words.list, "c", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    if (s.operands.size() != 1)
        return misuse(io, "expected KEY", words.usage);
    Key key;
    if (!read_key(io, "KEY", s.operands[0], any_key_sizes, key))
        return exit_refused;
    unsigned char kcv[5];
    const bool cmac = s.has('c');
    const std::size_t length = cmac ? 5 : 3;
    const int rc = cmac ? velkpay_kcv_cmac(key.bytes, key.length, kcv)
                        : velkpay_kcv(key.bytes, key.length, kcv, length);
    if (rc != VELKPAY_OK)
        return refuse_code(io, "KEY", rc);
    return put_hex(io, kcv, length);
}

int cmac_command(Words words, const Io &io) {
    Scan s;
    scan(words.list, "", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    if (s.operands.size() != 2)
        return misuse(io, "expected KEY and DATA", words.usage);
    Key key;
    if (!read_key(io, "KEY", s.operands[0], any_key_sizes, key))
        return exit_refused;
    Bytes data;
    if (!read_data(io, "DATA", s.operands[1], data))
        return exit_refused;
    unsigned char mac[8];
    const int rc = velkpay_cmac(data.data(), data.size(), mac, key.bytes, key.length);
    if (rc != VELKPAY_OK)
        return refuse_code(io, "KEY", rc);
    return put_hex(io, mac, sizeof mac);
}

int mac_command(Words words, const Io &io) {
    Scan s;
    scan(words.list, "a:p:", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    if (!s.has('a') || !s.has('p'))
        return misuse(io, "options -a and -p are required", words.usage);
    const std::string algorithm = s.get('a'), padding = s.get('p');
    if (algorithm != "1" && algorithm != "3")
        return misuse(io, "-a takes 1 or 3", words.usage);
    if (padding != "1" && padding != "2" && padding != "3")
        return misuse(io, "-p takes 1, 2 or 3", words.usage);
    if (s.operands.size() != 2)
        return misuse(io, "expected KEY and DATA", words.usage);
    const bool retail = algorithm == "3";
    Key key;
    if (!read_key(io, "KEY", s.operands[0],
                  retail ? std::span<const std::size_t>(double_key_size) : any_key_sizes, key))
        return exit_refused;
    Bytes data;
    if (!read_data(io, "DATA", s.operands[1], data))
        return exit_refused;
    unsigned char mac[8];
    const int method = padding[0] - '0';
    const int rc =
        retail ? velkpay_mac_alg3(data.data(), data.size(), method, mac, key.bytes)
               : velkpay_mac_alg1(data.data(), data.size(), method, mac, key.bytes, key.length);
    if (rc != VELKPAY_OK)
        return refuse_code(io, "KEY", rc);
    return put_hex(io, mac, sizeof mac);
}

} // namespace velkpay::cli
