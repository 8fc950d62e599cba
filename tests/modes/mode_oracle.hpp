// SPDX-License-Identifier: MIT
// Expected results for every mode function from OpenSSL's libcrypto: its EVP
// CBC and 8-bit CFB ciphers where it has them (des-cbc and des-cfb8 for single
// DES, des-ede3-cbc and des-ede3-cfb8 with K3 = K1 for two-key EDE), and
// otherwise the textbook mode driven block by block through its single-block
// DES_ecb_encrypt (8-bit OFB everywhere, the whole EEE family).
#pragma once

#ifdef VELK_HAVE_LIBCRYPTO
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <functional>

#include "families.hpp"
#include "libcrypto_oracle.hpp"

namespace velk::test::oracle {

using BlockOp = std::function<Block(const Block &)>;

// The family's block operation under its key bytes: the stages in order,
// each a single-DES ECB call.
inline BlockOp block_op(const Family &f, const Bytes &key, bool encrypt) {
    struct Stage {
        Block key;
        bool encrypt;
    };
    std::vector<Stage> stages;
    const auto k = [&](int i) { return block_at(&key[8 * static_cast<std::size_t>(i)]); };
    if (f.key_bytes == 8)
        stages = {{k(0), encrypt}};
    if (f.key_bytes == 16)
        stages = {{k(0), encrypt}, {k(1), !encrypt}, {k(0), encrypt}};
    if (f.key_bytes == 24)
        stages = encrypt ? std::vector<Stage>{{k(0), true}, {k(1), true}, {k(2), true}}
                         : std::vector<Stage>{{k(2), false}, {k(1), false}, {k(0), false}};
    return [stages](Block x) {
        for (const Stage &s : stages)
            ecb(s.key.data(), x.data(), x.data(), s.encrypt);
        return x;
    };
}

// libcrypto's EVP cipher over the whole message, no padding.
inline Bytes evp(const char *cipher, const Family &f, const Bytes &key, const Block &iv,
                 const Bytes &data, bool encode) {
    // Single DES lives in the legacy provider; loading it takes the default
    // provider out of the automatic set, so both are loaded, and unloaded
    // again at exit so that leak checkers see nothing left behind.
    static const struct Providers {
        OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER *fallback = OSSL_PROVIDER_load(nullptr, "default");
        ~Providers() {
            if (legacy)
                OSSL_PROVIDER_unload(legacy);
            if (fallback)
                OSSL_PROVIDER_unload(fallback);
        }
    } providers;
    EXPECT_TRUE(providers.legacy && providers.fallback) << "libcrypto's legacy provider is missing";
    Bytes k(key.begin(), key.begin() + 8 * (f.key_bytes == 8 ? 1 : 2));
    if (f.key_bytes == 16)
        k.insert(k.end(), key.begin(), key.begin() + 8); // K1 K2 K1
    EVP_CIPHER *c = EVP_CIPHER_fetch(nullptr, cipher, nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 16);
    int n = 0, m = 0;
    const bool ok =
        c && ctx && EVP_CipherInit_ex(ctx, c, nullptr, k.data(), iv.data(), encode) &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) &&
        EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) &&
        EVP_CipherFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(c);
    EXPECT_TRUE(ok) << "libcrypto refused " << cipher;
    out.resize(static_cast<std::size_t>(n + m));
    return out;
}

// CBC of a whole message, chained from iv.
inline Bytes cbc(const Family &f, bool encode, const Bytes &key, Block iv, const Bytes &data) {
    if (f.key_bytes != 24)
        return evp(f.key_bytes == 8 ? "DES-CBC" : "DES-EDE3-CBC", f, key, iv, data, encode);
    const BlockOp op = block_op(f, key, encode);
    Bytes out(data.size());
    for (std::size_t i = 0; i < data.size(); i += 8) {
        Block x = block_at(&data[i]);
        for (int j = 0; j < 8 && encode; ++j)
            x[j] ^= iv[j];
        x = op(x);
        for (int j = 0; j < 8 && !encode; ++j)
            x[j] ^= iv[j];
        std::copy(x.begin(), x.end(), &out[i]);
        iv = block_at(encode ? &out[i] : &data[i]);
    }
    return out;
}

// 8-bit CFB or OFB of a whole stream; reg is advanced.
inline Bytes stream(const Family &f, Stream s, const Bytes &key, Block &reg, const Bytes &data) {
    const bool cfb = s == Stream::cfb_encode || s == Stream::cfb_decode;
    Bytes out;
    if (cfb && f.key_bytes != 24) {
        out = evp(f.key_bytes == 8 ? "DES-CFB8" : "DES-EDE3-CFB8", f, key, reg, data,
                  s == Stream::cfb_encode);
        // The register ends holding the last eight cipher bytes seen.
        Bytes seen(reg.begin(), reg.end());
        const Bytes &cipher = s == Stream::cfb_encode ? out : data;
        seen.insert(seen.end(), cipher.begin(), cipher.end());
        reg = block_at(&seen[seen.size() - 8]);
        return out;
    }
    const BlockOp encrypt = block_op(f, key, true);
    for (unsigned char x : data) {
        const unsigned char k = encrypt(reg)[0], y = x ^ k;
        out.push_back(y);
        std::memmove(reg.data(), reg.data() + 1, 7);
        reg[7] = s == Stream::cfb_encode ? y : s == Stream::cfb_decode ? x : k;
    }
    return out;
}

} // namespace velk::test::oracle
#endif
