/* SPDX-License-Identifier: MIT */
/* Drives the DUKPT and PIN-block example of velkpay(3), which
 * man_example.cmake cuts out of the page, through X9.24-1:2009's test data:
 * the device's second transaction has KSN FFFF9876543210E00002 and sends
 * PIN 1234 for PAN 4012345678909 as 10A01C8D02C69107, which the host reads
 * back; a wiped device is refused. Prints what differs and exits 1, or
 * exits 0. */
#include <stdio.h>
#include <string.h>

#include <velkpay.h>

#include "pay_example.h"

static int differs(const char *what, const unsigned char *got, const unsigned char *want,
                   size_t n) {
    size_t i;
    if (memcmp(got, want, n) == 0) return 0;
    printf("%s:", what);
    for (i = 0; i < n; ++i) printf(" %02x", got[i]);
    printf("\n");
    return 1;
}

int main(void) {
    static const unsigned char bdk[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                          0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    static const unsigned char initial_ksn[10] = {0xff, 0xff, 0x98, 0x76, 0x54,
                                                  0x32, 0x10, 0xe0, 0x00, 0x00};
    static const unsigned char second_ksn[10] = {0xff, 0xff, 0x98, 0x76, 0x54,
                                                 0x32, 0x10, 0xe0, 0x00, 0x02};
    static const unsigned char want_block[8] = {0x10, 0xa0, 0x1c, 0x8d,
                                                0x02, 0xc6, 0x91, 0x07};
    static const char pan[] = "4012345678909";
    velkpay_dukpt_device device;
    unsigned char ipek[16], ksn[10], block[8];
    char pin[VELKPAY_PIN_MAX_DIGITS + 1];
    int rc, bad = 0;

    if ((rc = velkpay_dukpt_ipek(bdk, initial_ksn, ipek)) != 0 ||
        (rc = velkpay_dukpt_device_init(&device, ipek, initial_ksn)) != 0 ||
        (rc = terminal_pin_block(&device, "1234", pan, ksn, block)) != 0 ||
        (rc = terminal_pin_block(&device, "1234", pan, ksn, block)) != 0) {
        printf("terminal: %s\n", velkpay_strerror(rc));
        return 1;
    }
    bad |= differs("KSN", ksn, second_ksn, 10);
    bad |= differs("PIN block", block, want_block, 8);
    if ((rc = host_pin(bdk, ksn, block, pan, pin)) != 0) {
        printf("host: %s\n", velkpay_strerror(rc));
        return 1;
    }
    if (strcmp(pin, "1234") != 0) {
        printf("PIN back: %s\n", pin);
        bad = 1;
    }
    velkpay_dukpt_device_wipe(&device);
    if ((rc = terminal_pin_block(&device, "1234", pan, ksn, block)) != VELKPAY_E_DUKPT_STATE) {
        printf("a wiped device gave %d\n", rc);
        bad = 1;
    }
    return bad;
}
