// SPDX-License-Identifier: MIT
// libcrypto's DES as an independent oracle. Only built where libcrypto was
// found (VELK_HAVE_LIBCRYPTO); tests that need it skip, loudly, elsewhere.
#pragma once

#ifdef VELK_HAVE_LIBCRYPTO
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/evp.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace velk::test::oracle {

inline DES_key_schedule schedule(const unsigned char key[8]) {
    DES_cblock k;
    std::memcpy(k, key, 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    return ks;
}

// Single-DES ECB on one block.
inline void ecb(const unsigned char key[8], const unsigned char in[8], unsigned char out[8],
                bool encrypt) {
    DES_key_schedule ks = schedule(key);
    DES_cblock i, o;
    std::memcpy(i, in, 8);
    DES_ecb_encrypt(&i, &o, &ks, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    std::memcpy(out, o, 8);
}

// A whole message through one of libcrypto's EVP ciphers (des-ede3,
// des-ede3-cbc, des-ede3-cfb8, ...), without padding.
inline std::vector<unsigned char> evp(const EVP_CIPHER *cipher, const unsigned char *key,
                                      const unsigned char *iv, const std::vector<unsigned char> &in,
                                      bool encrypt) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::vector<unsigned char> out(in.size() + 8);
    int n = 0, last = 0;
    const bool ok =
        ctx && EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, encrypt) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
        EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size())) == 1 &&
        EVP_CipherFinal_ex(ctx, out.data() + n, &last) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        throw std::runtime_error("libcrypto refused the cipher");
    out.resize(static_cast<std::size_t>(n + last));
    return out;
}

} // namespace velk::test::oracle

#define VELK_REQUIRE_LIBCRYPTO() ((void)0)
#else
#define VELK_REQUIRE_LIBCRYPTO() GTEST_SKIP() << "libcrypto not found: differential check skipped"
#endif
