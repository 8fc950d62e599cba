// Expected results for every mode function from OpenSSL's libcrypto: its
// own CBC and 8-bit CFB where it has them (DES_ncbc_encrypt and DES_cfb_encrypt
// for single DES, EVP des-ede3-cbc and des-ede3-cfb8 for two-key EDE with
// K3 = K1), and otherwise the plain textbook mode driven block by block
// through its single-block ECB (8-bit OFB everywhere, the whole EEE family).
#pragma once

#ifdef VELK_HAVE_LIBCRYPTO
#include <openssl/evp.h>

#include <functional>

#include "families.hpp"
#include "libcrypto_oracle.hpp"

namespace velk::test::oracle {

using BlockOp = std::function<Block(const Block &)>;

inline Block ecb_block(const unsigned char *key, const Block &in, bool encrypt) {
    Block out;
    ecb(key, in.data(), out.data(), encrypt);
    return out;
}

// The block operation of a family under its key bytes, from libcrypto.
inline BlockOp block_op(const Family &f, const Bytes &key, bool encrypt) {
    const Block k1 = block_at(key.data());
    if (f.key_bytes == 8) return [=](const Block &x) { return ecb_block(k1.data(), x, encrypt); };
    const Block k2 = block_at(key.data() + 8);
    if (f.key_bytes == 16)
        return [=](const Block &x) {
            DES_key_schedule s1 = schedule(k1.data()), s2 = schedule(k2.data());
            DES_cblock i, o;
            std::memcpy(i, x.data(), 8);
            DES_ecb3_encrypt(&i, &o, &s1, &s2, &s1, encrypt ? DES_ENCRYPT : DES_DECRYPT);
            Block out;
            std::memcpy(out.data(), o, 8);
            return out;
        };
    const Block k3 = block_at(key.data() + 16);
    if (encrypt)
        return [=](const Block &x) {
            return ecb_block(k3.data(), ecb_block(k2.data(), ecb_block(k1.data(), x, true), true),
                             true);
        };
    return [=](const Block &x) {
        return ecb_block(k1.data(), ecb_block(k2.data(), ecb_block(k3.data(), x, false), false),
                         false);
    };
}

inline Block xor_block(const Block &a, const unsigned char *b) {
    Block out;
    for (int i = 0; i < 8; ++i) out[i] = a[i] ^ b[i];
    return out;
}

// Textbook CBC over whole blocks.
inline Bytes composed_cbc(const BlockOp &op, bool encode, Block iv, const Bytes &data) {
    Bytes out;
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
        const Block in = block_at(&data[i]);
        const Block res = encode ? op(xor_block(in, iv.data())) : xor_block(op(in), iv.data());
        out.insert(out.end(), res.begin(), res.end());
        iv = encode ? res : in;
    }
    return out;
}

// Textbook 8-bit CFB/OFB on a byte-array register; reg is advanced.
inline Bytes composed_feedback8(const BlockOp &encrypt, Stream s, Block &reg, const Bytes &data) {
    Bytes out;
    for (unsigned char x : data) {
        const unsigned char k = encrypt(reg)[0], y = x ^ k;
        out.push_back(y);
        std::memmove(reg.data(), reg.data() + 1, 7);
        reg[7] = s == Stream::cfb_encode ? y : s == Stream::cfb_decode ? x : k;
    }
    return out;
}

// libcrypto's own triple-DES EVP ciphers, no padding, one update.
inline Bytes evp(const char *cipher, const Bytes &key, const Block &iv, const Bytes &data,
                 bool encode) {
    EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, cipher, nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 16);
    int n = 0, m = 0;
    const bool ok = c && ctx && EVP_CipherInit_ex(ctx, c, nullptr, key.data(), iv.data(), encode) &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) &&
                    EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) &&
                    EVP_CipherFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(c);
    EXPECT_TRUE(ok) << "libcrypto refused " << cipher;
    out.resize(static_cast<std::size_t>(n + m));
    return out;
}

// The EDE key as libcrypto's three-key ciphers take it: K1 K2 K1.
inline Bytes ede3_key(const Bytes &key) {
    Bytes k(key.begin(), key.begin() + 16);
    k.insert(k.end(), key.begin(), key.begin() + 8);
    return k;
}

// libcrypto's CBC of a whole message (chained from iv).
inline Bytes cbc(const Family &f, bool encode, const Bytes &key, const Block &iv,
                 const Bytes &data) {
    if (f.key_bytes == 8) {
        DES_key_schedule s = schedule(key.data());
        DES_cblock v;
        std::memcpy(v, iv.data(), 8);
        Bytes out(data.size());
        DES_ncbc_encrypt(data.data(), out.data(), static_cast<long>(data.size()), &s, &v,
                         encode ? DES_ENCRYPT : DES_DECRYPT);
        return out;
    }
    if (f.key_bytes == 16) return evp("DES-EDE3-CBC", ede3_key(key), iv, data, encode);
    return composed_cbc(block_op(f, key, encode), encode, iv, data);
}

// libcrypto's 8-bit CFB or OFB of a whole stream; reg is advanced.
inline Bytes stream(const Family &f, Stream s, const Bytes &key, Block &reg, const Bytes &data) {
    const bool cfb = s == Stream::cfb_encode || s == Stream::cfb_decode;
    if (!cfb || f.key_bytes == 24) return composed_feedback8(block_op(f, key, true), s, reg, data);
    const bool encode = s == Stream::cfb_encode;
    Bytes out;
    if (f.key_bytes == 8) {
        DES_key_schedule ks = schedule(key.data());
        DES_cblock v;
        std::memcpy(v, reg.data(), 8);
        out.resize(data.size());
        DES_cfb_encrypt(data.data(), out.data(), 8, static_cast<long>(data.size()), &ks, &v,
                        encode ? DES_ENCRYPT : DES_DECRYPT);
    } else {
        out = evp("DES-EDE3-CFB8", ede3_key(key), reg, data, encode);
    }
    // After 8-bit CFB the register holds the last eight cipher bytes seen.
    Bytes seen(reg.begin(), reg.end());
    seen.insert(seen.end(), (encode ? out : data).begin(), (encode ? out : data).end());
    std::memcpy(reg.data(), seen.data() + seen.size() - 8, 8);
    return out;
}

} // namespace velk::test::oracle
#endif
