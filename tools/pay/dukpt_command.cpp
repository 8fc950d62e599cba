// SPDX-License-Identifier: MIT
// velkpay dukpt: the host side of triple-DES DUKPT, the initial key of a
// device and the transaction or working key of any KSN.
#include <cstring>

#include "commands.hpp"
#include "velkpay.h"

namespace velkpay::cli {

namespace {

struct Usage {
    const char *name;
    int usage; // a VELKPAY_DUKPT_* usage, 0 for the transaction key itself
};

constexpr Usage usages[] = {
    {"pin", VELKPAY_DUKPT_PIN},
    {"mac", VELKPAY_DUKPT_MAC_REQUEST},
    {"mac-response", VELKPAY_DUKPT_MAC_RESPONSE},
    {"data", VELKPAY_DUKPT_DATA_REQUEST},
    {"data-response", VELKPAY_DUKPT_DATA_RESPONSE},
};

struct DukptArguments {
    bool ipek = false;
    int usage = 0;
    char *bdk = nullptr;
    const char *ksn = nullptr;
};

int dukpt(const DukptArguments &a, const Io &io) {
    Key bdk;
    if (!read_key(io, "BDK", a.bdk, double_key_size, bdk))
        return exit_refused;
    unsigned char ksn[VELKPAY_DUKPT_KSN_SIZE];
    if (!read_hex(io, "KSN", a.ksn, ksn, sizeof ksn))
        return exit_refused;
    Key key;
    key.length = VELKPAY_DUKPT_KEY_SIZE;
    int rc = a.ipek ? velkpay_dukpt_ipek(bdk.bytes, ksn, key.bytes)
                    : velkpay_dukpt_transaction_key(bdk.bytes, ksn, key.bytes);
    if (rc == VELKPAY_OK && a.usage != 0) {
        Key working;
        rc = velkpay_dukpt_working_key(key.bytes, a.usage, working.bytes);
        std::memcpy(key.bytes, working.bytes, VELKPAY_DUKPT_KEY_SIZE);
    }
    if (rc != VELKPAY_OK)
        return refuse_code(io, "dukpt", rc);
    return put_hex(io, key.bytes, key.length);
}

} // namespace

int dukpt_command(Words words, const Io &io) {
    Scan s;
    scan(words.list, "u:", s);
    if (const int done = scan_outcome(io, s, words); done >= 0)
        return done;
    DukptArguments a;
    if (s.operands.empty())
        return misuse(io, "expected ipek or key", words.usage);
    if (std::strcmp(s.operands[0], "ipek") == 0)
        a.ipek = true;
    else if (std::strcmp(s.operands[0], "key") != 0)
        return misuse(io, "expected ipek or key", words.usage);
    if (a.ipek && s.has('u'))
        return misuse(io, "-u is for dukpt key only", words.usage);
    if (s.has('u')) {
        for (const Usage &u : usages)
            if (std::strcmp(s.get('u'), u.name) == 0)
                a.usage = u.usage;
        if (a.usage == 0)
            return misuse(io, "-u takes pin, mac, mac-response, data or data-response",
                          words.usage);
    }
    if (s.operands.size() != 3)
        return misuse(io, "expected BDK and KSN", words.usage);
    a.bdk = s.operands[1];
    a.ksn = s.operands[2];
    return dukpt(a, io);
}

} // namespace velkpay::cli
