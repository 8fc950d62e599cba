// libcrypto's DES as an independent oracle. Only built where libcrypto was
// found (VELK_HAVE_LIBCRYPTO); tests that need it skip, loudly, elsewhere.
#pragma once

#ifdef VELK_HAVE_LIBCRYPTO
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/evp.h>

#include <cstring>

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

} // namespace velk::test::oracle

#define VELK_REQUIRE_LIBCRYPTO() ((void)0)
#else
#define VELK_REQUIRE_LIBCRYPTO() GTEST_SKIP() << "libcrypto not found: differential check skipped"
#endif
