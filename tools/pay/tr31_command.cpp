// SPDX-License-Identifier: MIT
// velkpay tr31: key blocks of versions A, B and C under a triple-DES key
// block protection key, wrapped from a header and a key, or unwrapped to
// the key and the header.
#include <cstring>
#include <string>

#include "commands.hpp"
#include "velkpay.h"

namespace velkpay::cli {

namespace {

// The library's causes named after the operand they concern.
const char *operand_of(int code, bool unwrapping) {
    switch (code) {
    case VELKPAY_E_KEY_LENGTH:
        return unwrapping ? "KBPK" : "KEY";
    case VELKPAY_E_RANDOM:
        return "padding";
    case VELKPAY_E_TR31_MAC:
    case VELKPAY_E_TR31_KEY_LENGTH:
    case VELKPAY_E_TR31_ENCODING:
        return "BLOCK";
    default:
        return unwrapping ? "BLOCK" : "HEADER";
    }
}

int wrap(char *kbpk_text, const char *header, char *key_text, const Io &io) {
    Key kbpk, key;
    if (!read_key(io, "KBPK", kbpk_text, triple_key_sizes, kbpk) ||
        !read_key(io, "KEY", key_text, any_key_sizes, key))
        return exit_refused;
    char block[VELKPAY_TR31_MAX_BLOCK + 1];
    std::size_t length = 0;
    const int rc = velkpay_tr31_wrap(header, std::strlen(header), key.bytes, key.length, 0,
                                     nullptr, kbpk.bytes, kbpk.length, block,
                                     VELKPAY_TR31_MAX_BLOCK, &length);
    if (rc != VELKPAY_OK)
        return refuse_code(io, operand_of(rc, false), rc);
    block[length] = '\n';
    std::fwrite(block, 1, length + 1, io.out);
    return exit_ok;
}

// BLOCK as given, or read from a file or standard input (@PATH, @-), where
// one line end after it is not part of it.
bool read_block(const Io &io, char *arg, std::string &block) {
    if (arg[0] != '@') {
        block = arg;
        return true;
    }
    Bytes data;
    if (!read_data(io, "BLOCK", arg, data))
        return false;
    block.assign(data.begin(), data.end());
    if (!block.empty() && block.back() == '\n')
        block.pop_back();
    if (!block.empty() && block.back() == '\r')
        block.pop_back();
    return true;
}

int unwrap(char *kbpk_text, char *block_text, const Io &io) {
    Key kbpk;
    if (!read_key(io, "KBPK", kbpk_text, triple_key_sizes, kbpk))
        return exit_refused;
    std::string block;
    if (!read_block(io, block_text, block))
        return exit_refused;
    unsigned char key[VELKPAY_TR31_MAX_BLOCK / 2];
    std::size_t key_length = 0;
    velkpay_tr31_header header;
    const int rc = velkpay_tr31_unwrap(block.data(), block.size(), kbpk.bytes, kbpk.length, key,
                                       sizeof key, &key_length, &header);
    if (rc != VELKPAY_OK)
        return refuse_code(io, operand_of(rc, true), rc);
    put_hex(io, key, key_length);
    velk::secure_wipe(key, sizeof key);
    std::fwrite(block.data(), 1, header.header_length, io.out);
    std::fputc('\n', io.out);
    return exit_ok;
}

} // namespace

int tr31_command(Words words, const Io &io) {
    Scan s;
    scan(words.list, "k:", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    if (s.operands.empty())
        return misuse(io, "expected wrap or unwrap", words.usage);
    const bool unwrapping = std::strcmp(s.operands[0], "unwrap") == 0;
    if (!unwrapping && std::strcmp(s.operands[0], "wrap") != 0)
        return misuse(io, "expected wrap or unwrap", words.usage);
    if (!s.has('k'))
        return misuse(io, "option -k is required", words.usage);
    const std::size_t wanted = unwrapping ? 2 : 3;
    if (s.operands.size() < wanted)
        return misuse(io, unwrapping ? "expected BLOCK" : "expected HEADER and KEY", words.usage);
    if (s.operands.size() > wanted)
        return misuse(io, "too many arguments", words.usage);
    return unwrapping ? unwrap(s.get('k'), s.operands[1], io)
                      : wrap(s.get('k'), s.operands[1], s.operands[2], io);
}

} // namespace velkpay::cli
