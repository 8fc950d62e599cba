// SPDX-License-Identifier: MIT
// The ctgrind check: run under Valgrind's memcheck with the key bytes, the
// key schedules and the data marked undefined, every branch and every memory
// address computed from them is reported. Each path below marks its secrets
// undefined, makes its calls and marks what it wrote defined again, and the
// reports are counted per path through memcheck's own error counter.
//
// Paths that must be constant-time in this build are always run and must
// give no report; with --all the others are run too, and their counts are
// printed for information. Exit status: 0 when every required path gave no
// report, 1 otherwise, 77 (skipped) when not running under Valgrind. Run it
// with --error-limit=no: memcheck otherwise stops counting after 1000
// distinct reports, and a later path would wrongly show none.
#include <valgrind/memcheck.h>
#include <valgrind/valgrind.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ede3_bulk.hpp"
#include "file_stream.hpp"
#include "hex_digits.hpp"
#include "three_key_ede.hpp"
#include "three_key_ede_blocks.hpp"
#include "velkcore.h"

namespace {

#ifdef VELK_CONSTANT_TIME
constexpr bool ct_build = true;
#else
constexpr bool ct_build = false;
#endif

template <class T> void secret(T *p, std::size_t n = 1) {
    (void)VALGRIND_MAKE_MEM_UNDEFINED(p, n * sizeof(T));
}
template <class T> void released(T *p, std::size_t n = 1) {
    (void)VALGRIND_MAKE_MEM_DEFINED(p, n * sizeof(T));
}

// Fixed pseudo-random bytes: the values do not matter, only that they are
// not all alike.
void fill(unsigned char *p, std::size_t n, std::uint32_t seed) {
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        p[i] = static_cast<unsigned char>(x >> 24);
    }
}

// Three schedules from defined keys, then marked undefined: the block paths
// are checked apart from the set-up.
struct Keys {
    des_subkeys k1, k2, k3;
    Keys() {
        unsigned char key[24];
        fill(key, sizeof key, 1);
        des_3EEEinit(key, 24, k1, k2, k3);
        secret(k1, 32);
        secret(k2, 32);
        secret(k3, 32);
    }
};

// One block, or for the feedback modes 16 bytes, with its vector or
// register, all secret.
struct Data {
    unsigned char in[16], out[16], iv[8];
    Data() {
        fill(in, sizeof in, 2);
        fill(iv, sizeof iv, 3);
        secret(in, sizeof in);
        secret(iv, sizeof iv);
    }
    ~Data() {
        released(out, sizeof out);
        released(iv, sizeof iv);
    }
};

void key_setup() {
    unsigned char key[24];
    fill(key, sizeof key, 4);
    des_subkeys a, b, c;
    int cls[4];
    secret(key, sizeof key);
    cls[0] = des_init(key, 8, a);
    cls[1] = des_3EDEinit(key, 16, a, b);
    cls[2] = des_3EEEinit(key, 24, a, b, c);
    cls[3] = des_3EDEinit_3keys(key, 24, a, b, c);
    released(cls, 4);
    released(a, 32);
    released(b, 32);
    released(c, 32);
}

// The nine single-key calls of one family, given as lambdas over the keys.
template <class Ecb, class EcbD, class Cbc, class CbcD, class Cfb, class CfbD, class Ofb,
          class OfbD>
void family(Ecb ecb, EcbD ecbd, Cbc cbc, CbcD cbcd, Cfb cfb, CfbD cfbd, Ofb ofb, OfbD ofbd) {
    Keys k;
    Data d;
    ecb(d.in, d.out, k);
    ecbd(d.in, d.out, k);
    cbc(d.in, d.out, d.iv, k);
    cbcd(d.in, d.out, d.iv, k);
    cfb(d.in, d.out, 16, d.iv, k);
    cfbd(d.in, d.out, 16, d.iv, k);
    ofb(d.in, d.out, 16, d.iv, k);
    ofbd(d.in, d.out, 16, d.iv, k);
}

using U8 = unsigned char;
using C8 = const unsigned char;

void single_family() {
    family([](C8 *i, U8 *o, Keys &k) { des_ecbencode(i, o, k.k1); },
           [](C8 *i, U8 *o, Keys &k) { des_ecbdecode(i, o, k.k1); },
           [](C8 *i, U8 *o, C8 *v, Keys &k) { des_cbcencode(i, o, v, k.k1); },
           [](C8 *i, U8 *o, C8 *v, Keys &k) { des_cbcdecode(i, o, v, k.k1); },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) { des_cfbencode(i, o, n, r, k.k1); },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) { des_cfbdecode(i, o, n, r, k.k1); },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) { des_ofbencode(i, o, n, r, k.k1); },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) { des_ofbdecode(i, o, n, r, k.k1); });
}

void ede_family() {
    family([](C8 *i, U8 *o, Keys &k) { des_ecb3EDEencode(i, o, k.k1, k.k2); },
           [](C8 *i, U8 *o, Keys &k) { des_ecb3EDEdecode(i, o, k.k1, k.k2); },
           [](C8 *i, U8 *o, C8 *v, Keys &k) { des_cbc3EDEencode(i, o, v, k.k1, k.k2); },
           [](C8 *i, U8 *o, C8 *v, Keys &k) { des_cbc3EDEdecode(i, o, v, k.k1, k.k2); },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_cfb3EDEencode(i, o, n, r, k.k1, k.k2);
           },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_cfb3EDEdecode(i, o, n, r, k.k1, k.k2);
           },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_ofb3EDEencode(i, o, n, r, k.k1, k.k2);
           },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_ofb3EDEdecode(i, o, n, r, k.k1, k.k2);
           });
}

void eee_family() {
    family([](C8 *i, U8 *o, Keys &k) { des_ecb3EEEencode(i, o, k.k1, k.k2, k.k3); },
           [](C8 *i, U8 *o, Keys &k) { des_ecb3EEEdecode(i, o, k.k1, k.k2, k.k3); },
           [](C8 *i, U8 *o, C8 *v, Keys &k) { des_cbc3EEEencode(i, o, v, k.k1, k.k2, k.k3); },
           [](C8 *i, U8 *o, C8 *v, Keys &k) { des_cbc3EEEdecode(i, o, v, k.k1, k.k2, k.k3); },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_cfb3EEEencode(i, o, n, r, k.k1, k.k2, k.k3);
           },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_cfb3EEEdecode(i, o, n, r, k.k1, k.k2, k.k3);
           },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_ofb3EEEencode(i, o, n, r, k.k1, k.k2, k.k3);
           },
           [](C8 *i, U8 *o, std::uint32_t n, U8 *r, Keys &k) {
               des_ofb3EEEdecode(i, o, n, r, k.k1, k.k2, k.k3);
           });
}

// The one-block three-key EDE forms the tests use, over the library's
// triple stages.
void velkfile_one_block() {
    Keys k;
    Data d;
    des_ecb3EDEencode_3keys(d.in, d.out, k.k1, k.k2, k.k3);
    des_ecb3EDEdecode_3keys(d.in, d.out, k.k1, k.k2, k.k3);
    des_cbc3EDEencode_3keys(d.in, d.out, d.iv, k.k1, k.k2, k.k3);
    des_cbc3EDEdecode_3keys(d.in, d.out, d.iv, k.k1, k.k2, k.k3);
}

// A buffer of 263 blocks: whole batches of the 128- and 256-block widths and
// a tail of 7, short enough to go one block at a time.
constexpr std::size_t buffer_blocks = 263;

template <class Call> void on_buffer(Call call) {
    Keys k;
    std::vector<unsigned char> buf(8 * buffer_blocks);
    unsigned char chain[8];
    fill(buf.data(), buf.size(), 5);
    fill(chain, 8, 6);
    secret(buf.data(), buf.size());
    secret(chain, 8);
    {
        // Built from the secret schedules, so its masks are secret too.
        const velk::Ede3BulkKey key(k.k1, k.k2, k.k3);
        call(buf.data(), chain, key);
    }
    released(buf.data(), buf.size());
    released(chain, 8);
}

// velkfile's per-buffer function on the many-block path: ECB both ways and
// CBC decryption, at the width the processor is given (valgrind hides
// AVX-512), with a partial batch at the end.
void many_block_path() {
    using velkfile::Direction;
    struct Use {
        Direction direction;
        int mode;
    };
    for (const Use use :
         {Use{Direction::encrypt, velkfile::mode_ecb}, Use{Direction::decrypt, velkfile::mode_ecb},
          Use{Direction::decrypt, velkfile::mode_cbc}})
        on_buffer([&](unsigned char *buf, unsigned char *chain, const velk::Ede3BulkKey &key) {
            velkfile::process_blocks(use.direction, use.mode, buf, 8 * buffer_blocks, key, chain);
        });
}

// Every width the processor runs under valgrind by name, the one-block tail
// included.
void many_block_widths() {
    namespace w = velk::bulk_width;
    for (const w::Width width : {w::Width::one_block, w::Width::sse2, w::Width::avx2}) {
        if (!w::available(width))
            continue;
        for (bool decrypt : {false, true})
            on_buffer([&](unsigned char *buf, unsigned char *, const velk::Ede3BulkKey &key) {
                w::run(width, key, buf, buf, buffer_blocks, decrypt, nullptr);
            });
        on_buffer([&](unsigned char *buf, unsigned char *chain, const velk::Ede3BulkKey &key) {
            w::run(width, key, buf, buf, buffer_blocks, true, chain);
        });
    }
}

// CBC encryption chains, so velkfile runs it one block at a time.
void velkfile_cbc_encryption() {
    on_buffer([&](unsigned char *buf, unsigned char *chain, const velk::Ede3BulkKey &key) {
        velkfile::process_blocks(velkfile::Direction::encrypt, velkfile::mode_cbc, buf,
                                 8 * buffer_blocks, key, chain);
    });
}

// velkfile's key and vector texts (-K and -V, directly, from env: or from
// the first line of a file:): the line end found, a CR LF line end taken
// off, the digits decoded, upper and lower case, with a character that is
// no digit among them. Only the returned length and position are public.
void velkfile_key_text() {
    constexpr char alphabet[] = "0123456789abcdefABCDEF";
    char line[2 * 24 + 2];
    fill(reinterpret_cast<unsigned char *>(line), sizeof line, 7);
    for (std::size_t i = 0; i < 48; ++i)
        line[i] = alphabet[static_cast<unsigned char>(line[i]) % (sizeof alphabet - 1)];
    line[48] = '\r';
    line[49] = '\n';
    for (const bool with_bad_digit : {false, true}) {
        if (with_bad_digit)
            line[29] = 'g';
        secret(line, sizeof line);
        std::size_t length = velkfile::line_length(line, sizeof line);
        released(&length);
        length = velkfile::without_carriage_return(line, length);
        released(&length);
        unsigned char key[24];
        std::size_t bad = length == 48 ? velkfile::decode_hex_digits(line, key, 24) : 1;
        released(&bad);
        released(key, sizeof key);
        released(line, sizeof line);
        if (length != 48 || bad != (with_bad_digit ? 30u : 0u)) {
            std::printf("velkfile key text decoded wrongly: length %zu, bad digit at %zu\n", length,
                        bad);
            std::abort();
        }
    }
}

struct Path {
    const char *name;
    bool required_by_default; // constant-time in every build
    void (*run)();
};

constexpr Path paths[] = {
    {"key set-up (des_init, des_3EDEinit, des_3EEEinit, velkfile)", true, key_setup},
    {"many-block path (velkfile ECB both ways, CBC decryption)", true, many_block_path},
    {"many-block path, every width by name", true, many_block_widths},
    {"velkfile key text (-K/-V digits, env:, file: line)", true, velkfile_key_text},
    {"single DES: ECB, CBC, CFB, OFB both ways", false, single_family},
    {"two-key EDE: ECB, CBC, CFB, OFB both ways", false, ede_family},
    {"three-key EEE: ECB, CBC, CFB, OFB both ways", false, eee_family},
    {"velkfile one-block helpers", false, velkfile_one_block},
    {"velkfile CBC encryption", false, velkfile_cbc_encryption},
};

} // namespace

int main(int argc, char **argv) {
    const bool all = argc > 1 && std::strcmp(argv[1], "--all") == 0;
    if (!RUNNING_ON_VALGRIND) {
        std::fprintf(stderr,
                     "ctgrind_check: not running under valgrind, nothing checked "
                     "(run it as: valgrind --error-limit=no --error-exitcode=1 ctgrind_check)\n");
        return 77;
    }
    bool failed = false;
    std::printf("%s build\n", ct_build ? "VELK_CONSTANT_TIME" : "default");
    for (const Path &p : paths) {
        const bool required = ct_build || p.required_by_default;
        if (!required && !all)
            continue;
        const unsigned before = VALGRIND_COUNT_ERRORS;
        p.run();
        const unsigned reports = VALGRIND_COUNT_ERRORS - before;
        std::printf("%8u  %s%s\n", reports, p.name, required ? "" : " (not required)");
        if (required && reports != 0)
            failed = true;
    }
    std::printf("%s\n", failed ? "FAILED: secret-dependent branch or address on a "
                                 "constant-time path"
                               : "ok: no report on any constant-time path");
    return failed ? 1 : 0;
}
