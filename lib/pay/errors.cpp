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
    default:
        return "unknown velkpay error";
    }
}

} // namespace

extern "C" VELKPAY_API const char *velkpay_strerror(int code) { return cause(code); }
