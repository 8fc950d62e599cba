// SPDX-License-Identifier: MIT
// The text of every result code: short, lower-case causes that a program can
// print after its own name ("velkpay: key has a length this function does
// not take").
#include "velkpay.h"

namespace {

constexpr const char *cause(int code) noexcept {
    switch (code) {
    case VELKPAY_OK:
        return "success";
    case VELKPAY_E_ARGUMENT:
        return "null pointer or argument out of range";
    case VELKPAY_E_KEY_LENGTH:
        return "key has a length this function does not take";
    case VELKPAY_E_DATA_LENGTH:
        return "data is not a whole number of 8-byte blocks";
    case VELKPAY_E_BUFFER:
        return "output buffer too small for the result";
    case VELKPAY_E_PADDING:
        return "unknown padding method (ISO/IEC 9797-1 has 1, 2 and 3)";
    case VELKPAY_E_KCV_LENGTH:
        return "key check value length is not 2 to 8 bytes";
    case VELKPAY_E_KEY_USAGE:
        return "unknown DUKPT key usage";
    case VELKPAY_E_DUKPT_STATE:
        return "DUKPT device state is corrupt";
    case VELKPAY_E_DUKPT_EXHAUSTED:
        return "DUKPT device has used its last key";
    case VELKPAY_E_PIN_FORMAT:
        return "PIN block format is not 0, 1, 2 or 3";
    case VELKPAY_E_PIN:
        return "PIN is not 4 to 12 decimal digits";
    case VELKPAY_E_PAN:
        return "PAN is not 13 to 19 decimal digits";
    case VELKPAY_E_PIN_CONTROL:
        return "PIN block control field does not match its format";
    case VELKPAY_E_PIN_LENGTH:
        return "PIN block length field is not 4 to 12";
    case VELKPAY_E_PIN_DIGIT:
        return "PIN block holds a PIN digit that is not 0 to 9";
    case VELKPAY_E_PIN_FILL:
        return "PIN block fill does not match its format";
    case VELKPAY_E_RANDOM:
        return "system random source failed";
    case VELKPAY_E_TR31_VERSION:
        return "key block version is not A, B or C";
    case VELKPAY_E_TR31_LENGTH_FIELD:
        return "key block length field is not four decimal digits";
    case VELKPAY_E_TR31_TRUNCATED:
        return "key block is shorter than its length field or header";
    case VELKPAY_E_TR31_OVERLONG:
        return "key block is longer than its length field";
    case VELKPAY_E_TR31_KEY_USAGE:
        return "key block key usage is not two upper-case letters or digits";
    case VELKPAY_E_TR31_ALGORITHM:
        return "key block algorithm is unknown";
    case VELKPAY_E_TR31_MODE:
        return "key block mode of use is unknown";
    case VELKPAY_E_TR31_KEY_VERSION:
        return "key block key version number is not two letters or digits";
    case VELKPAY_E_TR31_EXPORTABILITY:
        return "key block exportability is not E, N or S";
    case VELKPAY_E_TR31_BLOCK_COUNT:
        return "key block optional block count is not two digits or not the blocks given";
    case VELKPAY_E_TR31_RESERVED:
        return "key block reserved field is not 00";
    case VELKPAY_E_TR31_OPTIONAL_BLOCK:
        return "key block optional block has a bad ID, length or content";
    case VELKPAY_E_TR31_PB_NOT_LAST:
        return "key block padding block PB is not the last optional block";
    case VELKPAY_E_TR31_ALIGNMENT:
        return "key block optional blocks are not a multiple of 8 characters";
    case VELKPAY_E_TR31_ENCODING:
        return "key block encrypted data or MAC is not hex in whole 8-byte blocks";
    case VELKPAY_E_TR31_MAC:
        return "key block MAC does not match (wrong KBPK or altered block)";
    case VELKPAY_E_TR31_KEY_LENGTH:
        return "key block key length is 0, not whole bytes or past the key data";
    case VELKPAY_E_TR31_TOO_LARGE:
        return "key block would be longer than 9999 characters";
    default:
        return "unknown velkpay error";
    }
}

} // namespace

extern "C" VELKPAY_API const char *velkpay_strerror(int code) {
    return cause(code);
}
