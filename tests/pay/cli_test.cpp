// SPDX-License-Identifier: MIT
// The built velkpay program: every subcommand against the published vectors
// (the same files the library tests read), keys from env: and file:, data
// from @PATH and @-, every refusal and usage error with its message, the
// examples of --help and of velkpay(1), and the hiding of secret arguments.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "velk_test.hpp"
#include "velkpay.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using velk::test::read_vectors;
using Args = std::vector<std::string>;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A directory of its own for each test, removed after it.
struct Scratch {
    fs::path path;
    Scratch() {
        std::string templ = (fs::temp_directory_path() / "velkpay-cli-XXXXXX").string();
        path = mkdtemp(templ.data());
    }
    ~Scratch() { fs::remove_all(path); }
    fs::path write(const std::string &name, const std::string &bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return path / name;
    }
};

struct Invocation {
    Args args;
    std::string input;            // standard input
    std::vector<std::string> env; // NAME=value added to the environment
    std::string output;           // a file for standard output instead of a capture
    Invocation(Args a, std::string in = "", std::vector<std::string> e = {})
        : args(std::move(a)), input(std::move(in)), env(std::move(e)) {}
};

// Starts velkpay with `run.args`, its streams redirected to files of
// `scratch`, and waits for it.
Outcome velkpay(const Invocation &run, const Scratch &scratch) {
    const fs::path in = scratch.write(".stdin", run.input);
    const fs::path out = run.output.empty() ? scratch.path / ".stdout" : fs::path(run.output);
    const fs::path err = scratch.path / ".stderr";
    std::vector<std::string> all = {VELKPAY_BIN};
    all.insert(all.end(), run.args.begin(), run.args.end());
    std::vector<char *> argv;
    for (auto &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = run.env;
    for (char **e = environ; *e != nullptr; ++e)
        env_text.emplace_back(*e);
    std::vector<char *> envp;
    for (auto &e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Outcome r;
    if (posix_spawn(&pid, VELKPAY_BIN, &files, nullptr, argv.data(), envp.data()) == 0) {
        int raw = 0;
        waitpid(pid, &raw, 0);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    posix_spawn_file_actions_destroy(&files);
    if (run.output.empty())
        r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

Outcome velkpay(const Args &args) {
    Scratch scratch;
    return velkpay(Invocation(args), scratch);
}

// The one result line of a run that must succeed.
std::string result(const Args &args) {
    const Outcome r = velkpay(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(!r.out.empty() && r.out.back() == '\n') << r.out;
    return r.out.empty() ? r.out : r.out.substr(0, r.out.size() - 1);
}

std::string describe(const Args &args) {
    std::string s = "velkpay";
    for (const auto &a : args)
        s += " " + a;
    return s;
}

std::string get(const velk::test::Record &r, const char *name) {
    const auto at = r.find(name);
    return at == r.end() ? std::string() : at->second;
}

std::string strerror_of(int code) {
    return velkpay_strerror(code);
}

// ---- Known answers ------------------------------------------------------

TEST(PayCli, KcvCmacAndMacsGiveThePublishedValues) {
    for (const auto &v : read_vectors("pay_kcv.txt")) {
        const std::string kcv = result({"kcv", get(v, "Key")});
        EXPECT_EQ(kcv.size(), 6u);
        EXPECT_EQ(kcv.substr(0, get(v, "Kcv").size()), get(v, "Kcv")) << get(v, "Id");
    }
    for (const auto &v : read_vectors("pay_cmac.txt"))
        EXPECT_EQ(result({"cmac", get(v, "Key"), get(v, "Msg")}), get(v, "Mac")) << get(v, "Id");
    for (const auto &v : read_vectors("pay_iso9797.txt")) {
        const Args args = {"mac",         "-a",          get(v, "Alg"), "-p",
                           get(v, "Pad"), get(v, "Key"), get(v, "Data")};
        const std::string mac = result(args);
        EXPECT_EQ(mac.size(), 16u);
        EXPECT_EQ(mac.substr(0, get(v, "Mac").size()), get(v, "Mac")) << describe(args);
    }
}

// The CMAC check value is the first 5 bytes of the CMAC of a zero block, and
// hex may come in either case.
TEST(PayCli, CmacCheckValueIsTheTagOfAZeroBlock) {
    for (const std::string key : {"0123456789abcdef", "0123456789ABCDEFFEDCBA9876543210",
                                  "8aa83bf8cbda10620bc1bf19fbb6cd58bc313d4a371ca8b5"})
        EXPECT_EQ(result({"kcv", "-c", key}),
                  result({"cmac", key, "0000000000000000"}).substr(0, 10));
}

// Every DUKPT transaction of the vectors through the tool alone: the key,
// then the PIN block under the PIN key, the MACs under the MAC keys and the
// data under the data keys.
TEST(PayCli, DukptKeysProtectTheTransactionsAsPublished) {
    for (const auto &v : read_vectors("pay_dukpt.txt")) {
        const std::string bdk = get(v, "BDK"), ksn = get(v, "KSN");
        if (v.count("IPEK")) {
            EXPECT_EQ(result({"dukpt", "ipek", bdk, ksn}), get(v, "IPEK"));
        }
        if (v.count("Key")) {
            EXPECT_EQ(result({"dukpt", "key", bdk, ksn}), get(v, "Key")) << ksn;
        }
        if (v.count("PinBlock")) {
            const std::string pek = result({"dukpt", "key", "-u", "pin", bdk, ksn});
            EXPECT_EQ(result({"pin", "encode", "-f", "0", "-k", pek, get(v, "PIN"), get(v, "PAN")}),
                      get(v, "PinBlock"));
            EXPECT_EQ(
                result({"pin", "decode", "-f", "0", "-k", pek, get(v, "PinBlock"), get(v, "PAN")}),
                get(v, "PIN"));
        }
        for (const auto &[field, usage] :
             {std::pair{"MacRequest", "mac"}, std::pair{"MacResponse", "mac-response"}})
            if (v.count(field)) {
                const std::string key = result({"dukpt", "key", "-u", usage, bdk, ksn});
                const std::string mac = result({"mac", "-a", "3", "-p", "1", key, get(v, "Data")});
                EXPECT_EQ(mac.substr(0, get(v, field).size()), get(v, field)) << ksn << field;
            }
        for (const auto &[field, usage] :
             {std::pair{"DataRequest", "data"}, std::pair{"DataResponse", "data-response"}})
            if (v.count(field)) {
                const std::string key = result({"dukpt", "key", "-u", usage, bdk, ksn});
                std::string data = get(v, "Data");
                data.resize((data.size() + 15) / 16 * 16, '0');
                EXPECT_EQ(result({"encrypt", "-m", "cbc", key, data}), get(v, field))
                    << ksn << field;
            }
    }
}

TEST(PayCli, PinBlocksDecodeAndEncodeAsPublished) {
    for (const auto &v : read_vectors("pay_pinblock.txt")) {
        const std::string format = get(v, "Format"), pin = get(v, "PIN");
        Args tail = {get(v, "Block")};
        if (!get(v, "PAN").empty())
            tail.push_back(get(v, "PAN"));
        Args decode = {"pin", "decode", "-f", format};
        decode.insert(decode.end(), tail.begin(), tail.end());
        EXPECT_EQ(result(decode), pin) << describe(decode);
        Args encode = {"pin", "encode", "-f", format, pin};
        if (!get(v, "PAN").empty())
            encode.push_back(get(v, "PAN"));
        const std::string block = result(encode);
        if (get(v, "Exact") == "yes") {
            EXPECT_EQ(block, get(v, "Block")) << describe(encode);
        }
        // Random fill or not, the block reads back to the PIN.
        decode[4] = block;
        EXPECT_EQ(result(decode), pin) << describe(decode);
    }
}

// Formats 1 and 3 fill with fresh random nibbles every time.
TEST(PayCli, RandomFilledPinBlocksDiffer) {
    for (const Args &args : {Args{"pin", "encode", "-f", "1", "123456"},
                             Args{"pin", "encode", "-f", "3", "123456", "4012345678909"}})
        EXPECT_NE(result(args), result(args)) << describe(args);
}

// Triple DES against blocks made by `openssl enc -des-ede-cbc` and
// `-des-ede3` with the same key, data and IV.
TEST(PayCli, TripleDesMatchesOpensslAndDecryptUndoesIt) {
    const std::string key2 = "0123456789ABCDEFFEDCBA9876543210";
    const std::string key3 = "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123";
    const std::string text = "4E6F77206973207468652074696D6520666F7220616C6C20";
    const struct {
        Args args;
        std::string out;
    } cases[] = {
        {{"-m", "cbc", "-i", "1234567890abcdef", key2, text},
         "F85D4AB92066789E1D0430671F28AE7AB9627D35385D2E24"},
        {{"-m", "ecb", key3, text}, "314F8327FA7A09A84362760CC13BA7DAFF55C5F80FAAAC45"},
    };
    for (const auto &c : cases) {
        Args encrypt = {"encrypt"}, decrypt = {"decrypt"};
        encrypt.insert(encrypt.end(), c.args.begin(), c.args.end());
        decrypt.insert(decrypt.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(result(encrypt), c.out) << describe(encrypt);
        decrypt.back() = c.out;
        EXPECT_EQ(result(decrypt), text) << describe(decrypt);
    }
    // No data, no blocks: an empty line.
    EXPECT_EQ(velkpay({"encrypt", "-m", "ecb", key2, ""}).out, "\n");
}

// ---- Where keys and data come from -------------------------------------

TEST(PayCli, KeysFromEnvironmentAndFilesAndDataFromFilesAndStdin) {
    Scratch scratch;
    const std::string key = "0123456789ABCDEFFEDCBA9876543210";
    const std::string kcv = "08D7B4";
    scratch.write("key.hex", key + "\n");
    scratch.write("key.crlf", "0123456789abcdeffedcba9876543210\r\nmore\n");
    scratch.write("key.bare", key);
    const std::string msg_hex = "6BC1BEE22E409F96E93D7E117393172AAE2D8A57";
    const std::string msg = "\x6B\xC1\xBE\xE2\x2E\x40\x9F\x96\xE9\x3D\x7E\x11\x73\x93\x17\x2A\xAE"
                            "\x2D\x8A\x57";
    const fs::path data = scratch.write("msg.bin", msg);
    scratch.write("empty.bin", "");
    const std::string cmac_key = "8AA83BF8CBDA10620BC1BF19FBB6CD58BC313D4A371CA8B5";
    const struct {
        Invocation run;
        std::string out;
    } cases[] = {
        {{{"kcv", "env:VELKPAY_TEST_KEY"}, "", {"VELKPAY_TEST_KEY=" + key}}, kcv},
        {{{"kcv", "file:" + (scratch.path / "key.hex").string()}}, kcv},
        {{{"kcv", "file:" + (scratch.path / "key.crlf").string()}}, kcv},
        {{{"kcv", "file:" + (scratch.path / "key.bare").string()}}, kcv},
        {{{"cmac", cmac_key, "@" + data.string()}}, "743DDBE0CE2DC2ED"},
        {{{"cmac", cmac_key, "@-"}, msg}, "743DDBE0CE2DC2ED"},
        {{{"cmac", cmac_key, "@" + (scratch.path / "empty.bin").string()}}, "B7A688E122FFAF95"},
        {{{"cmac", cmac_key, msg_hex}}, "743DDBE0CE2DC2ED"},
        {{{"dukpt", "ipek", "env:BDK", "FFFF9876543210E00000"}, "", {"BDK=" + key}},
         "6AC292FAA1315B4D858AB3A3D7D5933A"},
        // The clear block 041274EDCBA9876F under the key, as openssl's des-ede-ecb makes it.
        {{{"pin", "encode", "-f", "0", "-k", "file:" + (scratch.path / "key.hex").string(), "1234",
           "4012345678909"}},
         "C03D21CDBCB0C58B"},
        {{{"pin", "decode", "-f", "0", "-k", "env:PEK", "c03d21cdbcb0c58b", "4012345678909"},
          "",
          {"PEK=" + key}},
         "1234"},
    };
    for (const auto &c : cases) {
        const Outcome r = velkpay(c.run, scratch);
        EXPECT_EQ(r.status, 0) << describe(c.run.args) << r.err;
        EXPECT_EQ(r.out, c.out + "\n") << describe(c.run.args);
    }
}

// ---- Refusals: status 1, one line naming the cause, nothing on stdout ---

TEST(PayCli, RefusedInputsSayWhyOnOneLine) {
    Scratch scratch;
    const std::string key = "0123456789ABCDEFFEDCBA9876543210";
    const std::string ksn = "FFFF9876543210E00002";
    const std::string missing = (scratch.path / "missing").string();
    scratch.write("long.hex", std::string(200, 'A') + "\n");
    scratch.write("seven", "1234567");
    const struct {
        Invocation run;
        std::string err;
    } cases[] = {
        {{{"kcv", "0123456789ABCDEFFEDCBA987654321"}},
         "KEY: expected 16, 32 or 48 hex digits, found 31 characters"},
        {{{"kcv", "0123456789ABCDEFFEDCBA98765432G0"}}, "KEY: character 31 is not a hex digit"},
        {{{"encrypt", "-m", "ecb", "0123456789ABCDEF", "00"}},
         "KEY: expected 32 or 48 hex digits, found 16 characters"},
        {{{"mac", "-a", "3", "-p", "1", key + "0123456789ABCDEF", "00"}},
         "KEY: expected 32 hex digits, found 48 characters"},
        {{{"kcv", "env:VELKPAY_UNSET_VARIABLE"}},
         "KEY env:VELKPAY_UNSET_VARIABLE: the environment variable VELKPAY_UNSET_VARIABLE is "
         "not set"},
        {{{"kcv", "file:" + missing}}, "KEY file:" + missing + ": No such file or directory"},
        // A line end in a name would make two lines of one message.
        {{{"kcv", "file:" + missing + "\nx"}},
         "KEY file:" + missing + "?x: No such file or directory"},
        {{{"kcv", "file:" + (scratch.path / "long.hex").string()}},
         "KEY file:" + (scratch.path / "long.hex").string() +
             ": expected 16, 32 or 48 hex digits, found a longer line"},
        {{{"cmac", key, "@" + missing}}, "DATA @" + missing + ": No such file or directory"},
        {{{"cmac", key, "@" + scratch.path.string()}},
         "DATA @" + scratch.path.string() + ": Is a directory"},
        {{{"cmac", key, "ABC"}}, "DATA: expected an even number of hex digits, found 3"},
        {{{"cmac", key, "0x00"}}, "DATA: character 2 is not a hex digit"},
        {{{"encrypt", "-m", "cbc", key, "00112233"}},
         "DATA: 4 bytes, not a whole number of 8-byte blocks"},
        {{{"decrypt", "-m", "ecb", key, "@" + (scratch.path / "seven").string()}},
         "DATA: 7 bytes, not a whole number of 8-byte blocks"},
        {{{"encrypt", "-m", "cbc", "-i", "00", key, ""}},
         "IV: expected 16 hex digits, found 2 characters"},
        {{{"dukpt", "key", key, "FFFF9876543210E0000"}},
         "KSN: expected 20 hex digits, found 19 characters"},
        {{{"dukpt", "ipek", key + "0123456789ABCDEF", ksn}},
         "BDK: expected 32 hex digits, found 48 characters"},
        {{{"pin", "encode", "-f", "0", "12a4", "4012345678909"}},
         "PIN: " + strerror_of(VELKPAY_E_PIN)},
        {{{"pin", "encode", "-f", "2", "123"}}, "PIN: " + strerror_of(VELKPAY_E_PIN)},
        {{{"pin", "encode", "-f", "3", "1234", "401234567890"}},
         "PAN: " + strerror_of(VELKPAY_E_PAN)},
        {{{"pin", "decode", "-f", "0", "0412", "4012345678909"}},
         "BLOCK: expected 16 hex digits, found 4 characters"},
        {{{"pin", "encode", "-f", "0", "-k", "0123456789ABCDEF", "1234", "4012345678909"}},
         "PEK: expected 32 or 48 hex digits, found 16 characters"},
    };
    for (const auto &c : cases) {
        const Outcome r = velkpay(c.run, scratch);
        EXPECT_EQ(r.status, 1) << describe(c.run.args);
        EXPECT_EQ(r.out, "") << describe(c.run.args);
        EXPECT_EQ(r.err, "velkpay: " + c.err + "\n") << describe(c.run.args);
    }
}

// Each published invalid block is refused for its own reason.
TEST(PayCli, InvalidPinBlocksAreRefusedByField) {
    const std::map<std::string, int> codes = {{"control", VELKPAY_E_PIN_CONTROL},
                                              {"length", VELKPAY_E_PIN_LENGTH},
                                              {"digit", VELKPAY_E_PIN_DIGIT},
                                              {"fill", VELKPAY_E_PIN_FILL}};
    for (const auto &v : read_vectors("pay_pinblock_invalid.txt")) {
        Args args = {"pin", "decode", "-f", get(v, "Format"), get(v, "Block")};
        if (!get(v, "PAN").empty())
            args.push_back(get(v, "PAN"));
        const Outcome r = velkpay(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "velkpay: BLOCK: " + strerror_of(codes.at(get(v, "Refused"))) + "\n")
            << describe(args);
    }
}

TEST(PayCli, AResultThatCannotBeWrittenIsAFailure) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Scratch scratch;
    Invocation run({"kcv", "0123456789ABCDEFFEDCBA9876543210"});
    run.output = "/dev/full";
    const Outcome r = velkpay(run, scratch);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velkpay: standard output: No space left on device\n");
}

// ---- Usage errors: status 2, the cause and a usage line ----------------

TEST(PayCli, UsageErrorsPrintTheCauseAndTheUsageLine) {
    const std::string key = "0123456789ABCDEFFEDCBA9876543210";
    const std::string top = "usage: velkpay encrypt|decrypt|kcv|cmac|mac|dukpt|pin|tr31 "
                            "ARGUMENT... (velkpay --help)";
    const std::string cipher = "usage: velkpay encrypt -m ecb|cbc [-i IV] KEY DATA";
    const std::string mac = "usage: velkpay mac -a 1|3 -p 1|2|3 KEY DATA";
    const std::string dukpt = "usage: velkpay dukpt ipek BDK KSN | dukpt key [-u USAGE] BDK KSN";
    const std::string pin = "usage: velkpay pin encode|decode -f 0|1|2|3 [-k PEK] PIN|BLOCK [PAN]";
    const struct {
        Args args;
        std::string err;
    } cases[] = {
        {{}, "no command given\n" + top},
        {{"frobnicate"}, "unknown command \"frobnicate\"\n" + top},
        {{key}, "unknown command\n" + top}, // a misplaced key is never repeated
        {{"encrypt", key, "00"}, "option -m is required\n" + cipher},
        {{"encrypt", "-m", "ofb", key, "00"}, "-m takes ecb or cbc\n" + cipher},
        {{"encrypt", "-m", "ecb", "-i", "0000000000000000", key, "00"},
         "-i is for CBC only\n" + cipher},
        {{"encrypt", "-m", "ecb", key}, "expected KEY and DATA\n" + cipher},
        {{"encrypt", "-m", "ecb", key, "00", "00"}, "expected KEY and DATA\n" + cipher},
        {{"encrypt", "-m", "ecb", "-m", "cbc", key, "00"}, "option -m given twice\n" + cipher},
        {{"encrypt", "-x", key, "00"}, "unknown option -x\n" + cipher},
        {{"encrypt", "-\n", key, "00"}, "unknown option -?\n" + cipher},
        {{"encrypt", key, "00", "-m"}, "option -m needs a value\n" + cipher},
        {{"kcv"}, "expected KEY\nusage: velkpay kcv [-c] KEY"},
        {{"cmac", key}, "expected KEY and DATA\nusage: velkpay cmac KEY DATA"},
        {{"mac", "-a", "1", key, "00"}, "options -a and -p are required\n" + mac},
        {{"mac", "-a", "2", "-p", "1", key, "00"}, "-a takes 1 or 3\n" + mac},
        {{"mac", "-a", "1", "-p", "4", key, "00"}, "-p takes 1, 2 or 3\n" + mac},
        {{"dukpt"}, "expected ipek or key\n" + dukpt},
        {{"dukpt", "derive", key, "FFFF9876543210E00000"}, "expected ipek or key\n" + dukpt},
        {{"dukpt", "ipek", key}, "expected BDK and KSN\n" + dukpt},
        {{"dukpt", "ipek", "-u", "pin", key, "FFFF9876543210E00000"},
         "-u is for dukpt key only\n" + dukpt},
        {{"dukpt", "key", "-u", "kek", key, "FFFF9876543210E00000"},
         "-u takes pin, mac, mac-response, data or data-response\n" + dukpt},
        {{"pin", "encode", "1234", "4012345678909"}, "option -f is required\n" + pin},
        {{"pin", "encode", "-f", "4", "1234", "4012345678909"}, "-f takes 0, 1, 2 or 3\n" + pin},
        {{"pin", "encode", "-f", "0", "1234"}, "formats 0 and 3 need a PAN\n" + pin},
        {{"pin", "decode", "-f", "3", "341274E8C999845F"}, "formats 0 and 3 need a PAN\n" + pin},
        {{"pin", "decode", "-f", "1"}, "expected BLOCK\n" + pin},
        {{"pin", "verify", "-f", "1", "1234"}, "expected encode or decode\n" + pin},
        {{"pin", "encode", "-f", "0", "1234", "4012345678909", "9"}, "too many arguments\n" + pin},
    };
    for (const auto &c : cases) {
        const Outcome r = velkpay(c.args);
        EXPECT_EQ(r.status, 2) << describe(c.args);
        EXPECT_EQ(r.out, "") << describe(c.args);
        EXPECT_EQ(r.err, "velkpay: " + c.err + "\n") << describe(c.args);
    }
}

// ---- The examples users read -------------------------------------------

// Each velkpay command line of an example and the lines it prints, as the
// examples show them: a command starts with `indent` and "velkpay ", the
// lines after it that start with `output_indent` (and are no request or
// command) are its output.
std::vector<std::pair<Args, std::string>>
examples(const std::string &text, const std::string &indent, const std::string &output_indent) {
    std::vector<std::pair<Args, std::string>> found;
    std::istringstream in(text);
    std::string line;
    bool in_output = false;
    while (std::getline(in, line)) {
        // A command with a redirection or a substitution illustrates a
        // shell session; its output is described in words, not shown.
        if (line.rfind(indent + "velkpay ", 0) == 0 &&
            line.find_first_of("<>|$'\"") != std::string::npos) {
            in_output = false;
        } else if (line.rfind(indent + "velkpay ", 0) == 0) {
            std::istringstream words(line.substr(indent.size() + 8));
            Args args;
            for (std::string w; words >> w;)
                args.push_back(w);
            found.emplace_back(args, "");
            in_output = true;
        } else if (in_output && line.rfind(output_indent, 0) == 0 && !line.empty() &&
                   line[0] != '.') {
            found.back().second += line.substr(output_indent.size()) + "\n";
        } else {
            in_output = false;
        }
    }
    return found;
}

TEST(PayCli, HelpNamesEveryCommandAndItsExamplesHold) {
    const Outcome r = velkpay({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char *command : {"encrypt|decrypt", "kcv", "cmac", "mac", "dukpt ipek", "dukpt key",
                                "pin encode", "pin decode", "tr31"})
        EXPECT_NE(r.out.find(std::string("\nvelkpay ") + command), std::string::npos) << command;
    const auto pairs = examples(r.out, "    ", "        ");
    EXPECT_GE(pairs.size(), 10u);
    for (const auto &[args, out] : pairs) {
        const Outcome run = velkpay(args);
        EXPECT_EQ(run.status, 0) << describe(args) << run.err;
        EXPECT_EQ(run.out, out) << describe(args);
    }
    // --help after a command prints the same text.
    EXPECT_EQ(velkpay({"pin", "--help"}).out, r.out);
}

// The EXAMPLES of velkpay(1): each command in a no-fill display and the
// lines after it, with roff's escapes undone.
TEST(PayCli, ManualPageExamplesHold) {
    std::string page = slurp(VELKPAY_PAGE);
    ASSERT_FALSE(page.empty());
    const auto at = page.find("\n.SH EXAMPLES");
    ASSERT_NE(at, std::string::npos);
    page = page.substr(at, page.find("\n.SH ", at + 1) - at);
    for (std::size_t p; (p = page.find("\\-")) != std::string::npos;)
        page.erase(p, 1);
    const auto pairs = examples(page, "", "");
    EXPECT_GE(pairs.size(), 10u);
    for (const auto &[args, out] : pairs) {
        const Outcome run = velkpay(args);
        EXPECT_EQ(run.status, 0) << describe(args) << run.err;
        EXPECT_EQ(run.out, out) << describe(args);
    }
}

// ---- Secrets -------------------------------------------------------------

// Once read, a key is overwritten in the argument list that ps shows: seen
// here while the program waits for the data on its standard input.
TEST(PayCli, KeysLeaveTheArgumentList) {
#ifdef VELK_TEST_EMULATED
    GTEST_SKIP() << "under an emulator, /proc/PID/cmdline shows the emulator's own copy of the "
                    "arguments, which the program cannot clear";
#endif
    const std::string key = "0123456789ABCDEFFEDCBA9876543210";
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    std::string program = VELKPAY_BIN, command = "cmac", key_arg = key, data = "@-";
    char *argv[] = {program.data(), command.data(), key_arg.data(), data.data(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, pipe_fds[0], 0);
    posix_spawn_file_actions_addclose(&files, pipe_fds[1]);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, VELKPAY_BIN, &files, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&files);
    close(pipe_fds[0]);
    const fs::path cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
    std::string seen;
    for (int i = 0; i < 200; ++i) {
        seen = slurp(cmdline);
        if (seen.find(std::string(key.size(), 'x')) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(pipe_fds[1]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    EXPECT_EQ(seen.find(key), std::string::npos);
    EXPECT_NE(seen.find(std::string(key.size(), 'x')), std::string::npos) << seen;
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
}

// ---- Key blocks -----------------------------------------------------------

TEST(PayCli, Tr31UnwrapsThePublishedBlocksAndWrapsForItself) {
    for (const auto &v : read_vectors("pay_tr31.txt"))
        EXPECT_EQ(result({"tr31", "unwrap", "-k", get(v, "KBPK"), get(v, "Block")}),
                  get(v, "Key") + "\n" + get(v, "Header"))
            << get(v, "Id");

    // A wrapped block carries its true length, a PB block where the
    // optional blocks need one, and unwraps from a file or standard input
    // with keys from the environment and files.
    Scratch scratch;
    const std::string kbpk = "1D22BF32387C600AD97F9B97A51311AC0123456789ABCDEF";
    const std::string key = "E8BC63E5479455E26577F715D587FE68";
    const std::string block = result({"tr31", "wrap", "-k", kbpk, "C9999K0TN00N0100HM0621", key});
    EXPECT_EQ(block.substr(0, 32), "C0104K0TN00N0200HM0621PB0A000000");
    EXPECT_EQ(block.size(), 104u);
    const std::string file = scratch.write("block", block + "\r\n").string();
    const std::string key_file = scratch.write("kbpk", kbpk + "\n").string();
    for (const Invocation &run :
         {Invocation({"tr31", "unwrap", "-k", "env:KBPK", "@" + file}, "", {"KBPK=" + kbpk}),
          Invocation({"tr31", "unwrap", "-k", "file:" + key_file, "@-"}, block + "\n")}) {
        const Outcome r = velkpay(run, scratch);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, key + "\n" + block.substr(0, 32) + "\n");
    }
    EXPECT_NE(result({"tr31", "wrap", "-k", kbpk, "B0000P0TE00E0000", key}),
              result({"tr31", "wrap", "-k", kbpk, "B0000P0TE00E0000", key}));
}

TEST(PayCli, Tr31RefusalsAndUsageErrors) {
    const std::string kbpk = "DD7515F2BFC17F85CE48F3CA25CB21F6";
    const std::string block = "B0080P0TE00E000094B420079CC80BA3461F86FE26EFC4A3B8E4FA4C5F53411"
                              "76EED7B727B8A248E";
    const std::string usage =
        "usage: velkpay tr31 wrap -k KBPK HEADER KEY | tr31 unwrap -k KBPK BLOCK\n";
    const struct {
        Args args;
        int status;
        std::string err;
    } cases[] = {
        {{"tr31", "unwrap", "-k", "DD7515F2BFC17F85CE48F3CA25CB21F4", block},
         1,
         "BLOCK: " + strerror_of(VELKPAY_E_TR31_MAC)},
        {{"tr31", "unwrap", "-k", kbpk, "b" + block.substr(1)},
         1,
         "BLOCK: " + strerror_of(VELKPAY_E_TR31_VERSION)},
        {{"tr31", "unwrap", "-k", kbpk, block + "00"},
         1,
         "BLOCK: " + strerror_of(VELKPAY_E_TR31_OVERLONG)},
        {{"tr31", "unwrap", "-k", "0123456789ABCDEF", block},
         1,
         "KBPK: expected 32 or 48 hex digits, found 16 characters"},
        {{"tr31", "wrap", "-k", kbpk, "B0000P0TE00E0001", "00112233445566778899AABBCCDDEEFF"},
         1,
         "HEADER: " + strerror_of(VELKPAY_E_TR31_RESERVED)},
        {{"tr31", "wrap", "-k", kbpk, "B0000P0TE00E0000", "0011"},
         1,
         "KEY: expected 16, 32 or 48 hex digits, found 4 characters"},
        {{"tr31", "unwrap", block}, 2, "option -k is required\n" + usage},
        {{"tr31", "unwrap", "-k", kbpk}, 2, "expected BLOCK\n" + usage},
        {{"tr31", "wrap", "-k", kbpk, "B0000P0TE00E0000"}, 2, "expected HEADER and KEY\n" + usage},
        {{"tr31", "unwrap", "-k", kbpk, block, block}, 2, "too many arguments\n" + usage},
        {{"tr31", "rewrap", "-k", kbpk, block}, 2, "expected wrap or unwrap\n" + usage},
        {{"tr31"}, 2, "expected wrap or unwrap\n" + usage},
    };
    for (const auto &c : cases) {
        const Outcome r = velkpay(c.args);
        EXPECT_EQ(r.status, c.status) << describe(c.args);
        EXPECT_EQ(r.out, "") << describe(c.args);
        const std::string err = c.err.back() == '\n' ? c.err : c.err + "\n";
        EXPECT_EQ(r.err, "velkpay: " + err) << describe(c.args);
    }
}

} // namespace
