/* SPDX-License-Identifier: MIT */
/* A C99 program built against the installed libvelkpay, through pkg-config
 * and through the CMake package (consumer_pay/). It prints published answers
 * of each family, which the test compares: the SP 800-67 three-key sample in
 * ECB, a key check value, the SP 800-38B two-key CMAC example, the ISO/IEC
 * 9797-1 retail MAC example, and the DUKPT IPEK, transaction key, enciphered
 * PIN block and request-data encryption of X9.24-1:2009's test data. */
#include <stdio.h>
#include <string.h>

#include <velkpay.h>

static void print_hex(const char *label, const unsigned char *p, size_t n) {
    size_t i;
    printf("%s ", label);
    for (i = 0; i < n; ++i) printf("%02x", p[i]);
    printf("\n");
}

static int fail(const char *what, int code) {
    printf("%s: %s\n", what, velkpay_strerror(code));
    return 1;
}

int main(void) {
    static const unsigned char key24[24] = {
        0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
        0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23};
    static const unsigned char text3[25] = "The qufck brown fox jump";
    /* Also the BDK of the DUKPT test data and K K' of the retail MAC. */
    static const unsigned char key16[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                            0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    static const unsigned char cmac_key[16] = {0x4c, 0xf1, 0x51, 0x34, 0xa2, 0x85, 0x0d, 0xd5,
                                               0x8a, 0x3d, 0x10, 0xba, 0x80, 0x57, 0x0d, 0x38};
    static const unsigned char cmac_msg[20] = {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f,
                                               0x96, 0xe9, 0x3d, 0x7e, 0x11, 0x73, 0x93,
                                               0x17, 0x2a, 0xae, 0x2d, 0x8a, 0x57};
    static const unsigned char text[25] = "Now is the time for all ";
    static const unsigned char ksn[10] = {0xff, 0xff, 0x98, 0x76, 0x54,
                                          0x32, 0x10, 0xe0, 0x00, 0x02};
    static const char pan[] = "4012345678909";
    /* "4012345678909D987", zero-filled to whole blocks. */
    unsigned char data[24] = "4012345678909D987";
    unsigned char out[24], mac[8], kcv[3], ipek[16], txn[16], work_key[16], block[8];
    unsigned char iv[8] = {0};
    char pin[VELKPAY_PIN_MAX_DIGITS];
    size_t pin_length = 0;
    int rc;

    if ((rc = velkpay_tdes_ecb_encrypt(text3, out, 24, key24, 24)) != 0) return fail("ecb", rc);
    print_hex("tdes-ecb", out, 24);
    if ((rc = velkpay_kcv(key16, 16, kcv, 3)) != 0) return fail("kcv", rc);
    print_hex("kcv", kcv, 3);
    if ((rc = velkpay_cmac(cmac_msg, 20, mac, cmac_key, 16)) != 0) return fail("cmac", rc);
    print_hex("cmac", mac, 8);
    if ((rc = velkpay_mac_alg3(text, 24, VELKPAY_PAD_METHOD1, mac, key16)) != 0)
        return fail("mac3", rc);
    print_hex("retail-mac", mac, 8);

    if ((rc = velkpay_dukpt_ipek(key16, ksn, ipek)) != 0) return fail("ipek", rc);
    print_hex("ipek", ipek, 16);
    if ((rc = velkpay_dukpt_transaction_key(key16, ksn, txn)) != 0) return fail("txn", rc);
    print_hex("transaction-key", txn, 16);
    if ((rc = velkpay_dukpt_working_key(txn, VELKPAY_DUKPT_PIN, work_key)) != 0)
        return fail("pin key", rc);
    if ((rc = velkpay_pin_block_encipher(0, "1234", 4, pan, strlen(pan), NULL, block, work_key,
                                         16)) != 0)
        return fail("pin block", rc);
    print_hex("pin-block", block, 8);
    if ((rc = velkpay_pin_block_decipher(0, block, pan, strlen(pan), pin, sizeof pin,
                                         &pin_length, work_key, 16)) != 0)
        return fail("pin block back", rc);
    printf("pin %.*s\n", (int)pin_length, pin);
    if ((rc = velkpay_dukpt_working_key(txn, VELKPAY_DUKPT_DATA_REQUEST, work_key)) != 0)
        return fail("data key", rc);
    if ((rc = velkpay_tdes_cbc_encrypt(data, data, 24, iv, work_key, 16)) != 0)
        return fail("cbc", rc);
    print_hex("data-request", data, 24);

    /* A refusal names its cause. */
    rc = velkpay_kcv(key16, 15, kcv, 3);
    printf("refused %s\n", rc == VELKPAY_E_KEY_LENGTH ? "key-length" : velkpay_strerror(rc));
    return 0;
}
