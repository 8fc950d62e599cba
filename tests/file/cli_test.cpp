// SPDX-License-Identifier: MIT
// The built velkfile program: its command line, its output files and every
// error path, including pipes as input and a full device as output.
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_test_support.hpp"

namespace {

using namespace velkfile;
using namespace velkfile::test;
namespace fs = std::filesystem;
using velk::test::Random;

const std::string usage_line = std::string("Usage : ") + VELKFILE_BIN +
                               " [-d] [-m <mode>] [-k <key>] [-v <vector>] infile outfile \n";

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// The notice of a run without a key option, which most tests here make on
// purpose; velkfile_run takes it out of standard error, and the notices
// test looks at it.
const std::string default_key_notice =
    "velkfile: no key given (-k or -K): the built-in default key is used, which is published "
    "and protects nothing\n";

// Runs `prefix velkfile args` through the shell inside `dir`; `prefix` may
// feed a pipe ("cat x |"). Standard error is as the program wrote it.
Outcome velkfile_run_raw(const ScratchDir &dir, const std::vector<std::string> &args,
                         const std::string &prefix = "") {
    std::string cmd =
        "cd " + quote(dir.path.string()) + " && " + prefix + " " + quote(VELKFILE_BIN);
    for (const auto &a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    const fs::path out = dir / ".stdout", err = dir / ".stderr";
    cmd += " >" + quote(out.string()) + " 2>" + quote(err.string());
    const int raw = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const Bytes o = read_file(out), e = read_file(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    fs::remove(out);
    fs::remove(err);
    return r;
}

// The same, with the default-key notice taken out of standard error.
Outcome velkfile_run(const ScratchDir &dir, const std::vector<std::string> &args,
                     const std::string &prefix = "") {
    Outcome r = velkfile_run_raw(dir, args, prefix);
    if (const std::size_t at = r.err.find(default_key_notice); at != std::string::npos)
        r.err.erase(at, default_key_notice.size());
    return r;
}

Key key_from_text(const std::string &text) {
    Key k{};
    std::memcpy(k.data(), text.data(), std::min<std::size_t>(text.size(), 24));
    return k;
}

Block vector_from_text(const std::string &text) {
    Block v{};
    std::memcpy(v.data(), text.data(), std::min<std::size_t>(text.size(), 8));
    return v;
}

const Block default_value = velk::test::block_from_hex("0123456789abcdef");
const Key default_key = [] {
    Key k;
    for (int t = 0; t < 3; ++t)
        std::copy(default_value.begin(), default_value.end(), k.begin() + 8 * t);
    return k;
}();

Key key_from_hex(const std::string &hex) {
    Key k;
    const Bytes b = velk::test::from_hex(hex);
    std::copy(b.begin(), b.end(), k.begin());
    return k;
}

const std::string hex_key = "133457799BBCDFF10e329232ea6d0d73A1B2C3D4E5F60718";
const std::string hex_vector = "1F2E3D4C5b6a7988";

// Temporary files of an interrupted or failed replacement still in `dir`.
std::vector<std::string> leftovers_in(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".velkfile-") != std::string::npos)
            names.push_back(entry.path().filename().string());
    return names;
}

std::vector<std::string> leftovers(const ScratchDir &dir) {
    return leftovers_in(dir.path);
}

// Starts velkfile with `args` (paths absolute), its output streams sent to
// /dev/null and the cleanup signals at their default, as from a shell.
pid_t spawn_velkfile(const std::vector<std::string> &args,
                     const std::vector<std::string> &extra_env = {}) {
    std::vector<std::string> all = {VELKFILE_BIN};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU,
                  SIGRTMIN + 2})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> env_text = extra_env;
    for (char **e = environ; *e != nullptr; ++e)
        env_text.emplace_back(*e);
    std::vector<char *> envp;
    for (auto &e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, VELKFILE_BIN, &files, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

TEST(Cli, CommandLineErrorsPrintTheUsageLineAndWriteNothing) {
    ScratchDir dir;
    write_file(dir / "in", {1, 2, 3});
    const std::vector<std::vector<std::string>> cases = {
        {},           // no arguments
        {"-d"},       // options without operands
        {"-k"},       // option value missing
        {"-m", "in"}, // the option takes the operand as its value
        {"in"},       // a lone operand
        {"-m", "cbc"},
        {"-v", "x", "-k"},
        {"in", "out", "-d"}, // operands followed by anything
        {"-d", "in", "out", "more"},
    };
    for (const auto &args : cases) {
        const Outcome r = velkfile_run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, usage_line);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(Cli, DefaultsAreSingleDesUnderTheBuiltInValueAndRoundTrip) {
    ScratchDir dir;
    Random rng(31);
    const Bytes plain = rng.bytes(3 * chunk_bytes + 5);
    write_file(dir / "in", plain);
    Outcome r = velkfile_run(dir, {"in", "enc"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    const Bytes enc = read_file(dir / "enc");
    ASSERT_EQ(enc, encrypt_bytes(plain, default_key, default_value, mode_ecb));
    des_subkeys ks;
    des_init(default_value.data(), 8, ks);
    Block single;
    des_ecbencode(plain.data(), single.data(), ks);
    EXPECT_EQ(Bytes(enc.begin(), enc.begin() + 8), Bytes(single.begin(), single.end()));

    r = velkfile_run(dir, {"-d", "-d", "enc", "dec"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "dec"), plain);
}

// Each case: the arguments before the operands, and the key, vector and mode
// that the program must end up using.
TEST(Cli, OptionsSetKeyVectorAndModeAsRawText) {
    ScratchDir dir;
    Random rng(32);
    const Bytes plain = rng.bytes(100);
    write_file(dir / "-x", plain); // an unknown dash word is a file name
    const std::string k30 = "abcdefghijklmnopqrstuvwxyz0123";
    struct Case {
        std::vector<std::string> opts;
        Key key;
        Block vector;
        int mode;
    };
    const Case cases[] = {
        {{"-m", "CBC"}, default_key, default_value, mode_ecb},
        {{"-m", "cbc", "-m", "ecb"}, default_key, default_value, mode_ecb},
        {{"-m", "ecb", "-m", "cbc"}, default_key, default_value, mode_cbc},
        {{"-m", "cbc", "-m", "-d"}, default_key, default_value, mode_cbc},
        {{"-k", k30}, key_from_text(k30.substr(0, 24)), default_value, mode_ecb},
        {{"-k", "short"}, key_from_text("short"), default_value, mode_ecb},
        {{"-k", ""}, Key{}, default_value, mode_ecb},
        {{"-k", k30, "-k", "abc"}, key_from_text("abc"), default_value, mode_ecb},
        {{"-k", "-d"}, key_from_text("-d"), default_value, mode_ecb},
        {{"-m", "cbc", "-v", "0123456789"}, default_key, vector_from_text("01234567"), mode_cbc},
        {{"-v", "ab", "-m", "cbc"}, default_key, vector_from_text("ab"), mode_cbc},
        // Hex values, and the last of -k/-K and of -v/-V wins.
        {{"-K", hex_key}, key_from_hex(hex_key), default_value, mode_ecb},
        {{"-K", hex_key, "-k", "abc"}, key_from_text("abc"), default_value, mode_ecb},
        {{"-k", "abc", "-K", hex_key}, key_from_hex(hex_key), default_value, mode_ecb},
        {{"-m", "cbc", "-V", hex_vector},
         default_key,
         velk::test::block_from_hex(hex_vector),
         mode_cbc},
        {{"-m", "cbc", "-V", hex_vector, "-v", "ab"},
         default_key,
         vector_from_text("ab"),
         mode_cbc},
        {{"-m", "cbc", "-v", "ab", "-V", hex_vector, "-K", hex_key},
         key_from_hex(hex_key),
         velk::test::block_from_hex(hex_vector),
         mode_cbc},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.opts;
        args.insert(args.end(), {"-x", "enc"});
        const Outcome r = velkfile_run(dir, args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(read_file(dir / "enc"), encrypt_bytes(plain, c.key, c.vector, c.mode))
            << c.opts[1];
    }
    // Key texts that differ only in parity bits give the same file.
    ASSERT_EQ(velkfile_run(dir, {"-k", "abcdefgh12345678", "-x", "a"}).status, 0);
    ASSERT_EQ(velkfile_run(dir, {"-k", "`bcdefgi03244769", "-x", "b"}).status, 0);
    EXPECT_EQ(read_file(dir / "a"), read_file(dir / "b"));
}

TEST(Cli, MissingOrMalformedInputLeavesTheOutputUntouched) {
    ScratchDir dir;
    const Bytes keep = {'k', 'e', 'e', 'p'};
    write_file(dir / "bad_size", Bytes(10, 1));
    write_file(dir / "multiple_of_8", Bytes(16, 1));
    Bytes bad_count(17, 1);
    bad_count.back() = 9;
    write_file(dir / "bad_count", bad_count);
    bad_count.back() = 0;
    write_file(dir / "zero_count", bad_count);
    write_file(dir / "lone_count", {3});

    struct Case {
        std::vector<std::string> args;
        std::string err_start;
    };
    const Case cases[] = {
        {{"missing", "out"}, "missing: No such file or directory"},
        {{"-d", "missing", "out"}, "missing: No such file or directory"},
        {{"-d", "bad_size", "out"}, "bad_size: "},
        {{"-d", "multiple_of_8", "out"}, "multiple_of_8: "},
        {{"-d", "-m", "cbc", "bad_count", "out"}, "bad_count: "},
        {{"-d", "zero_count", "out"}, "zero_count: "},
        {{"-d", "lone_count", "out"},
         "lone_count: not a velkfile encrypted file: it holds no block, so its count byte must "
         "be 8, not 3\n"},
    };
    for (const Case &c : cases) {
        fs::remove(dir / "out");
        Outcome r = velkfile_run(dir, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind(c.err_start, 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "out")) << c.err_start;
        write_file(dir / "out", keep);
        r = velkfile_run(dir, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(read_file(dir / "out"), keep) << c.err_start;
    }
}

TEST(Cli, InputAndOutputNamingOneFileAreRefused) {
    ScratchDir dir;
    Random rng(33);
    // 8*N + 1 bytes ending in a valid count byte, so that decryption's check
    // of the input passes and the output is opened and compared.
    Bytes plain = rng.bytes(1001);
    plain.back() = 8;
    write_file(dir / "f", plain);
    fs::create_hard_link(dir / "f", dir / "hard");
    fs::create_symlink("f", dir / "soft");
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"f", "f"},
                                               {"f", "hard"},
                                               {"soft", "f"},
                                               {"-d", "f", "soft"},
                                               {"-d", "hard", "./f"}}) {
        const Outcome r = velkfile_run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir / "f"), plain);
    }
    // A device is no regular file: nothing of it can be truncated away.
    const Outcome r = velkfile_run(dir, {"/dev/null", "/dev/null"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Cli, UnreadableInputsFail) {
    ScratchDir dir;
    // A directory opens but cannot be read: refused before the output exists.
    fs::create_directory(dir / "a_directory");
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"a_directory", "out"}, {"-d", "a_directory", "out"}}) {
        const Outcome r = velkfile_run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "a_directory: Is a directory\n");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
    // Reading the start of a process's own memory fails with EIO: a read
    // error, not an end of file.
    if (!fs::exists("/proc/self/mem"))
        GTEST_SKIP() << "no /proc/self/mem";
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"/proc/self/mem", "out"}, {"-d", "-m", "cbc", "/proc/self/mem", "out"}}) {
        const Outcome r = velkfile_run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("/proc/self/mem: read error: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("out: left unchanged"), std::string::npos) << r.err;
    }
}

TEST(Cli, WriteFailuresOnAFullDeviceFail) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ScratchDir dir;
    Random rng(34);
    const Bytes big = rng.bytes(3 * chunk_bytes);
    write_file(dir / "small", {1, 2, 3});
    write_file(dir / "big", big);
    write_file(dir / "small.enc", encrypt_bytes({1, 2, 3}, default_key, default_value, mode_ecb));
    write_file(dir / "big.enc", encrypt_bytes(big, default_key, default_value, mode_ecb));
    write_file(dir / "empty", {});
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"small", "/dev/full"},
                                               {"big", "/dev/full"},
                                               {"empty", "/dev/full"},
                                               {"-d", "small.enc", "/dev/full"},
                                               {"-d", "big.enc", "/dev/full"}}) {
        const Outcome r = velkfile_run(dir, args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.out, "Error in write !\n") << args[0];
        EXPECT_EQ(r.err, "/dev/full: No space left on device\n") << args[0];
    }
}

// A pipe gives exactly what a regular file gives, in both directions, at the
// sizes where the count byte lands alone in a read.
TEST(Cli, PipeInputEqualsRegularFileInput) {
    ScratchDir dir;
    Random rng(35);
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, chunk_bytes - 1, chunk_bytes,
                             chunk_bytes + 1, 2 * chunk_bytes, 2 * chunk_bytes + 9}) {
        for (const std::string mode : {"ecb", "cbc"}) {
            SCOPED_TRACE(mode + " " + std::to_string(size));
            write_file(dir / "plain", rng.bytes(size));
            ASSERT_EQ(velkfile_run(dir, {"-m", mode, "plain", "file.enc"}).status, 0);
            ASSERT_EQ(
                velkfile_run(dir, {"-m", mode, "/dev/stdin", "pipe.enc"}, "cat plain |").status, 0);
            EXPECT_EQ(read_file(dir / "pipe.enc"), read_file(dir / "file.enc"));
            ASSERT_EQ(velkfile_run(dir, {"-d", "-m", mode, "file.enc", "file.dec"}).status, 0);
            ASSERT_EQ(
                velkfile_run(dir, {"-d", "-m", mode, "/dev/stdin", "pipe.dec"}, "cat file.enc |")
                    .status,
                0);
            EXPECT_EQ(read_file(dir / "pipe.dec"), read_file(dir / "plain"));
            EXPECT_EQ(read_file(dir / "file.dec"), read_file(dir / "plain"));
        }
    }
    // Malformed data through a pipe is found at its end.
    write_file(dir / "bad", Bytes(chunk_bytes + 8, 7));
    const Outcome r = velkfile_run(dir, {"-d", "/dev/stdin", "out"}, "cat bad |");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("/dev/stdin: not a velkfile encrypted file", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("out: left unchanged"), std::string::npos) << r.err;
}

} // namespace

namespace {

// Three-key CBC on multi-block messages through -K and -V, both ways, with
// the value given directly, in either case, from the environment and from a
// file. The vectors were made with openssl, an independent implementation.
TEST(Cli, HexKeysAndVectorsMatchTheMultiBlockVectors) {
    ScratchDir dir;
    const auto records = velk::test::read_vectors("tdes_cbc3_multiblock.txt");
    ASSERT_EQ(records.size(), 20u);
    int at = 0;
    for (const auto &rec : records) {
        SCOPED_TRACE(rec.at("Direction") + " " + rec.at("Count"));
        std::string key = rec.at("Key"), iv = rec.at("IV");
        std::string prefix;
        switch (at++ % 4) {
        case 1: // upper case
            for (char &c : key)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            break;
        case 2:
            prefix = "VELK_TEST_KEY=" + key + " VELK_TEST_IV=" + iv + " ";
            key = "env:VELK_TEST_KEY";
            iv = "env:VELK_TEST_IV";
            break;
        case 3: // a first line ending in CR LF, then more lines
            write_file(dir / "key.txt", Bytes(key.begin(), key.end()));
            std::ofstream(dir / "key.txt", std::ios::app) << "\r\nnext line\n";
            write_file(dir / "iv.txt", Bytes(iv.begin(), iv.end()));
            key = "file:key.txt";
            iv = "file:" + (dir / "iv.txt").string();
            break;
        }
        const Bytes plain = velk::test::from_hex(rec.at("In"));
        Bytes cipher = velk::test::from_hex(rec.at("Out"));
        cipher.push_back(8); // whole blocks: the count byte is 8
        write_file(dir / "plain", plain);
        write_file(dir / "cipher", cipher);
        Outcome r = velkfile_run(dir, {"-m", "cbc", "-K", key, "-V", iv, "plain", "enc"}, prefix);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "enc"), cipher);
        r = velkfile_run(dir, {"-d", "-m", "cbc", "-K", key, "-V", iv, "cipher", "dec"}, prefix);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "dec"), plain);
    }
}

// The input is a FIFO nobody writes to: opening it would hang until the
// timeout, so a refusal that comes back shows no file was opened.
TEST(Cli, BadHexValuesAreRefusedBeforeAnyFileIsOpened) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "a_directory");
    write_file(dir / "short_line", {'0', '1', '\n'});
    write_file(dir / "long_line", Bytes(200, 'a'));
    const std::string spaced = "00112233 4556677\n";
    write_file(dir / "spaced", Bytes(spaced.begin(), spaced.end()));
    const std::string k47 = hex_key.substr(0, 47);
    struct Case {
        std::vector<std::string> opts;
        std::string err;
    };
    const Case cases[] = {
        {{"-K", ""}, "-K: expected 48 hex digits, found 0 characters\n"},
        {{"-K", k47}, "-K: expected 48 hex digits, found 47 characters\n"},
        {{"-K", hex_key + "0"}, "-K: expected 48 hex digits, found 49 characters\n"},
        {{"-K", k47 + "g"}, "-K: character 48 is not a hex digit\n"},
        {{"-K", "0x" + hex_key.substr(2)}, "-K: character 2 is not a hex digit\n"},
        {{"-K", hex_key, "-V", "00112233445566"},
         "-V: expected 16 hex digits, found 14 characters\n"},
        {{"-V", "00112233 4556677"}, "-V: character 9 is not a hex digit\n"},
        {{"-V", "-d"}, "-V: expected 16 hex digits, found 2 characters\n"},
        {{"-K", "env:VELK_TEST_UNSET"},
         "-K env:VELK_TEST_UNSET: the environment variable VELK_TEST_UNSET is not set\n"},
        {{"-K", "env:"}, "-K env:: no environment variable named\n"},
        {{"-V", "env:VELK_TEST_BAD"}, "-V env:VELK_TEST_BAD: character 1 is not a hex digit\n"},
        {{"-K", "file:missing"}, "-K file:missing: No such file or directory\n"},
        {{"-K", "file:a_directory"}, "-K file:a_directory: Is a directory\n"},
        {{"-V", "file:short_line"},
         "-V file:short_line: expected 16 hex digits, found 2 characters\n"},
        {{"-K", "file:long_line"},
         "-K file:long_line: expected 48 hex digits, found a longer line\n"},
        {{"-V", "file:spaced"}, "-V file:spaced: character 9 is not a hex digit\n"},
        // A good key followed by a bad one is still refused.
        {{"-K", hex_key, "-K", "00"}, "-K: expected 48 hex digits, found 2 characters\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.opts;
        args.insert(args.end(), {"fifo", "out"});
        const Outcome r = velkfile_run(dir, args, "VELK_TEST_BAD=zz00112233445566 timeout 20");
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "out")) << c.err;
    }
}

// Each failure with an existing output: the output keeps its bytes and no
// temporary file is left beside it.
TEST(Cli, FailuresLeaveAReplacedOutputUnchanged) {
    ScratchDir dir;
    Random rng(36);
    const Bytes keep = rng.bytes(3000);
    const Bytes big = rng.bytes(8 * chunk_bytes);
    write_file(dir / "bad", Bytes(chunk_bytes + 8, 7));
    write_file(dir / "big", big);
    write_file(dir / "big.enc", encrypt_bytes(big, default_key, default_value, mode_ecb));
    struct Case {
        std::string what;
        std::vector<std::string> args;
        std::string prefix;
        std::string err_part;
        std::string out;
    };
    // The file size limit (64 KiB) makes writes fail part way, like a full
    // disk; the program ignores SIGXFSZ itself, so the write fails with EFBIG.
    const std::string limited = "ulimit -f 64;";
    const Case cases[] = {
        {"malformed pipe", {"-d", "/dev/stdin", "out"}, "cat bad |", "out: left unchanged\n", ""},
        {"read error", {"/proc/self/mem", "out"}, "", "out: left unchanged\n", ""},
        {"size limit, encrypt",
         {"big", "out"},
         limited,
         "out: File too large\n",
         "Error in write !\n"},
        {"size limit, decrypt",
         {"-d", "big.enc", "out"},
         limited,
         "out: File too large\n",
         "Error in write !\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(dir / "out", keep);
        fs::permissions(dir / "out", fs::perms(0640));
        const Outcome r = velkfile_run(dir, c.args, c.prefix);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(read_file(dir / "out"), keep);
        EXPECT_EQ(fs::status(dir / "out").permissions(), fs::perms(0640));
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
    }
}

// A real full disk: a 1 MiB tmpfs, when this process may mount one.
TEST(Cli, AFullFileSystemLeavesTheOutputUnchanged) {
    ScratchDir dir;
    const fs::path mnt = dir / "small_fs";
    fs::create_directory(mnt);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                     << "): full-disk case not run";
    struct Unmount {
        fs::path p;
        ~Unmount() { umount(p.c_str()); }
    } unmount{mnt};
    Random rng(37);
    const Bytes keep = rng.bytes(100000);
    write_file(dir / "big", rng.bytes(2000000));
    write_file(mnt / "out", keep);
    const Outcome r = velkfile_run(dir, {"big", (mnt / "out").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error in write !\n");
    EXPECT_EQ(r.err, (mnt / "out").string() + ": No space left on device\n");
    EXPECT_EQ(read_file(mnt / "out"), keep);
    EXPECT_EQ(fs::directory_iterator(mnt)->path().filename(), "out");
    EXPECT_EQ(std::distance(fs::directory_iterator(mnt), fs::directory_iterator()), 1);
}

TEST(Cli, ReplacementKeepsModeAndLinksAndWritesDevicesInPlace) {
    ScratchDir dir;
    Random rng(38);
    const Bytes plain = rng.bytes(5000);
    const Bytes enc = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    write_file(dir / "in", plain);

    // An existing file keeps its permission bits; a new one gets 0666 less
    // the umask, as when it is simply created.
    write_file(dir / "old", {1});
    fs::permissions(dir / "old", fs::perms(0604));
    ASSERT_EQ(velkfile_run(dir, {"in", "old"}).status, 0);
    EXPECT_EQ(read_file(dir / "old"), enc);
    EXPECT_EQ(fs::status(dir / "old").permissions(), fs::perms(0604));
    ASSERT_EQ(velkfile_run(dir, {"in", "new"}, "umask 027;").status, 0);
    EXPECT_EQ(fs::status(dir / "new").permissions(), fs::perms(0640));

    // A symbolic link stays a link; the file it names gets the result.
    fs::create_directory(dir / "sub");
    write_file(dir / "sub" / "target", {1, 2});
    fs::create_symlink("sub/target", dir / "link");
    ASSERT_EQ(velkfile_run(dir, {"in", "link"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(read_file(dir / "sub" / "target"), enc);

    // A file with two names is written in place, so both names see it.
    write_file(dir / "one", {1, 2});
    fs::create_hard_link(dir / "one", dir / "two");
    ASSERT_EQ(velkfile_run(dir, {"in", "two"}).status, 0);
    EXPECT_EQ(read_file(dir / "one"), enc);
    EXPECT_EQ(fs::hard_link_count(dir / "one"), 2u);

    // /dev/stdout and /dev/fd/N lead to the shell's redirections, which are
    // written, not replaced: the same file (inode) gets the bytes.
    const Outcome r = velkfile_run(dir, {"in", "/dev/stdout"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), enc);
    write_file(dir / "fd3", {'x'});
    struct stat before, after;
    ASSERT_EQ(stat((dir / "fd3").c_str(), &before), 0);
    ASSERT_EQ(velkfile_run(dir, {"in", "/dev/fd/3"}, "exec 3<>fd3;").status, 0);
    ASSERT_EQ(stat((dir / "fd3").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(read_file(dir / "fd3"), enc);
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

// Runs `command` through the shell inside `dir`, velkfile named $V.
int shell_in(const ScratchDir &dir, const std::string &command) {
    const std::string cmd =
        "cd " + quote(dir.path.string()) + " && V=" + quote(VELKFILE_BIN) + " && " + command;
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

Bytes text_bytes(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A name for one of the program's own descriptors is written through it:
// what the shell's redirection holds before and after stays, and the
// program's own lines go to standard error, out of the data.
TEST(Cli, DescriptorNamesAreWrittenThroughTheDescriptor) {
    ScratchDir dir;
    Random rng(43);
    const Bytes plain = rng.bytes(3 * default_slot_bytes + 11);
    const Bytes enc = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    write_file(dir / "in", plain);
    for (const std::string name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        for (const std::string threads : {"1", "2"}) {
            SCOPED_TRACE(name + ", " + threads + " threads");
            const std::string env = "VELKFILE_THREADS=" + threads + " ";
            write_file(dir / "log", text_bytes("earlier line\n"));
            ASSERT_EQ(shell_in(dir, env + "\"$V\" in " + name + " >>log"), 0);
            EXPECT_EQ(read_file(dir / "log"), concat({text_bytes("earlier line\n"), enc}));
            write_file(dir / "grouped", text_bytes("old bytes, longer than the header"));
            ASSERT_EQ(shell_in(dir, "{ echo header; " + env + "\"$V\" in " + name +
                                        "; echo trailer; } >grouped"),
                      0);
            EXPECT_EQ(read_file(dir / "grouped"),
                      concat({text_bytes("header\n"), enc, text_bytes("trailer\n")}));
        }
    }
    // A failed write through standard output: the lines are on standard
    // error, the cause named by the output's name.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(shell_in(dir, "\"$V\" in /dev/stdout >/dev/full 2>err"), 1);
        const Bytes err = read_file(dir / "err");
        EXPECT_EQ(std::string(err.begin(), err.end()),
                  default_key_notice + "Error in write !\n/dev/stdout: No space left on device\n");
    }
    // Standard output itself named by its file: the lines stay out of it.
    write_file(dir / "bad", Bytes(20, 7));
    write_file(dir / "same", {});
    EXPECT_EQ(shell_in(dir, "\"$V\" -d in same >same 2>err"), 1);
    EXPECT_EQ(read_file(dir / "same"), Bytes{});
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

// Regular files anywhere, /dev/shm included, and under names too long to
// take the temporary's suffix, are replaced whole: a failed run keeps the
// old bytes, a good one gives the whole result under the same name.
TEST(Cli, EveryRegularFileIsReplacedWhole) {
    ScratchDir dir;
    Random rng(44);
    const Bytes plain = rng.bytes(5000), keep = rng.bytes(700);
    const Bytes enc = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    write_file(dir / "in", plain);
    write_file(dir / "bad", Bytes(chunk_bytes + 8, 7));
    std::vector<fs::path> outputs = {dir / std::string(250, 'n'), dir / std::string(255, 'm'),
                                     dir / std::string(239, 'o')};
    std::string shm_dir;
    if (fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0) {
        std::string tmpl = "/dev/shm/velkfile-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        shm_dir = tmpl;
        outputs.push_back(fs::path(shm_dir) / "out");
    } else {
        std::printf("[          ] no writable /dev/shm: that case not run\n");
    }
    for (const fs::path &out : outputs) {
        SCOPED_TRACE(out.string().substr(0, 60));
        write_file(out, keep);
        const Outcome r = velkfile_run(dir, {"-d", "/dev/stdin", out.string()}, "cat bad |");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(": left unchanged"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(out), keep);
        ASSERT_EQ(velkfile_run(dir, {"in", out.string()}).status, 0);
        EXPECT_EQ(read_file(out), enc);
        for (const auto &entry : fs::directory_iterator(out.parent_path()))
            EXPECT_EQ(entry.path().filename().string().find(".velkfile-"), std::string::npos)
                << entry.path();
    }
    if (!shm_dir.empty())
        fs::remove_all(shm_dir);
}

// Where fchmod is refused (vfat and similar), the result is kept: the
// permission bits are best effort, like the owner.
TEST(Cli, ARefusedFchmodKeepsTheResult) {
#ifdef VELK_TEST_EMULATED
    GTEST_SKIP() << "under an emulator, the emulator's own loader takes LD_PRELOAD: not run";
#endif
    ScratchDir dir;
    Random rng(45);
    const Bytes plain = rng.bytes(3000);
    write_file(dir / "in", plain);
    write_file(dir / "out", {1, 2, 3});
    const Outcome r =
        velkfile_run(dir, {"in", "out"}, std::string("LD_PRELOAD=") + FCHMOD_REFUSED_SHIM);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(dir / "out"), encrypt_bytes(plain, default_key, default_value, mode_ecb));
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

// Files the replacement could not hand back to their owner, or rename over,
// are written in place, decided before any work: another user's
// group-writable file keeps its owner, and a file of another user in a
// sticky directory is written rather than failing at the rename.
TEST(Cli, OtherUsersFilesKeepTheirOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make another user's files: not run";
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no setpriv(1): not run";
    ScratchDir dir;
    constexpr uid_t user = 65534;
    constexpr gid_t shared = 4242;
    const std::string as_user = "setpriv --reuid=65534 --regid=65534 --groups=4242 ";
    fs::permissions(dir.path, fs::perms(0777));
    if (velkfile_run(dir, {}, as_user).out != usage_line)
        GTEST_SKIP() << "setpriv cannot run the program as another user here: not run";
    Random rng(46);
    const Bytes plain = rng.bytes(2000);
    const Bytes enc = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    write_file(dir / "in", plain);
    fs::permissions(dir / "in", fs::perms(0644));

    // Root's file, writable by a group the user is in.
    write_file(dir / "group_file", {1, 2, 3});
    ASSERT_EQ(chown((dir / "group_file").c_str(), 0, shared), 0);
    fs::permissions(dir / "group_file", fs::perms(0664));
    // Root's file, writable by all, in a sticky directory the user may write.
    fs::create_directory(dir / "sticky");
    fs::permissions(dir / "sticky", fs::perms(01777));
    write_file(dir / "sticky" / "file", {4, 5, 6});
    fs::permissions(dir / "sticky" / "file", fs::perms(0666));
    // The user's own file there is still replaced.
    write_file(dir / "sticky" / "own", {7});
    ASSERT_EQ(chown((dir / "sticky" / "own").c_str(), user, user), 0);

    for (const std::string name : {"group_file", "sticky/file", "sticky/own"}) {
        SCOPED_TRACE(name);
        struct stat before, after;
        ASSERT_EQ(stat((dir / name).c_str(), &before), 0);
        const Outcome r = velkfile_run(dir, {"in", name}, as_user);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(read_file(dir / name), enc);
        ASSERT_EQ(stat((dir / name).c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        // In place exactly where the owner could not be kept, and said so.
        EXPECT_EQ(after.st_ino == before.st_ino, name != "sticky/own");
        const std::string reason = name == "group_file"
                                       ? "a replacement could not keep its owner or group"
                                       : "it is another user's file in a sticky directory";
        EXPECT_EQ(r.err.find("velkfile: " + name + ": written in place, not replaced: " + reason) ==
                      0,
                  name != "sticky/own")
            << r.err;
    }
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

// Feeds a FIFO from a thread of its own: `limit` bytes, as fast as the
// reader takes them. Then, with `End::close`, the FIFO is closed; with
// `End::hold` it stays open and silent until the feeder is destroyed, so the
// program waits for more and can never finish, having written no more than
// it was given. The feeder stops early when the reader goes away (the write
// then fails with EPIPE).
class FifoFeeder {
  public:
    enum class End { close, hold };
    FifoFeeder(const std::string &fifo, const Bytes &data, std::size_t limit, End end)
        : fifo_(fifo), thread_([this, fifo, data, limit, end] {
              const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
              if (fd < 0)
                  return;
              std::size_t sent = 0;
              while (sent < limit) {
                  const std::size_t at = sent % data.size();
                  const std::size_t n = std::min(data.size() - at, limit - sent);
                  const ssize_t w = write(fd, data.data() + at, n);
                  if (w <= 0)
                      break;
                  sent += static_cast<std::size_t>(w);
              }
              while (sent == limit && end == End::hold && !stop_)
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              close(fd);
          }) {}
    // A reader that comes and goes wakes a feeder still waiting to open the
    // FIFO (the program died before it opened its input); its writes then
    // fail, as they do once the program is gone.
    ~FifoFeeder() {
        stop_ = true;
        close(open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        thread_.join();
    }
    FifoFeeder(const FifoFeeder &) = delete;
    FifoFeeder &operator=(const FifoFeeder &) = delete;

  private:
    std::string fifo_;
    std::atomic<bool> stop_{false};
    std::thread thread_; // last: it starts once the members it uses exist
};

// Sends `signo` to `pid` and waits up to a minute for the program to end;
// returns its wait status, or -1 when it still ran (it is then killed).
int stop_with(pid_t pid, int signo) {
    kill(pid, signo);
    for (int i = 0; i < 6000; ++i) {
        int raw = 0;
        const pid_t got = waitpid(pid, &raw, WNOHANG);
        if (got == pid)
            return raw;
        if (got < 0)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Waits until the replacement's temporary file in `dir` holds `bytes`.
bool temp_reaches(const ScratchDir &dir, std::uintmax_t bytes) {
    for (int i = 0; i < 6000; ++i) {
        for (const std::string &name : leftovers(dir)) {
            std::error_code ec;
            if (fs::file_size(dir / name, ec) >= bytes && !ec)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Runs stopped by every signal that ends the program, while it waits for
// more of a FIFO that is never closed: once its temporary file exists, and
// once worker threads have written several slots. The moment of the signal
// never decides the outcome (a run that cannot finish cannot be caught
// finishing): the output keeps its old bytes, the program dies of that
// signal without a core file, and a caught signal leaves no temporary file;
// SIGKILL at most one, named after the output. A run whose input ends gives
// the whole result.
TEST(Cli, StoppedRunsLeaveTheOldOutputOrTheWholeResult) {
    if (under_thread_sanitizer)
        GTEST_SKIP() << "ThreadSanitizer's runtime drops or deadlocks on some asynchronous "
                        "signals: the other builds run this test";
    ScratchDir dir;
    Random rng(39);
    const Bytes plain = rng.bytes(1 << 19);
    const Bytes old = rng.bytes(100000);
    const Bytes result = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    const std::string fifo = (dir / "fifo").string(), out = (dir / "out").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved); // the feeder's writes fail instead
    const int signals[] = {SIGKILL, SIGINT,  SIGTERM, SIGHUP,  SIGPIPE,     SIGQUIT,
                           SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGRTMIN + 2};
    for (const int signo : signals) {
        for (const std::uintmax_t reached :
             {std::uintmax_t{0}, std::uintmax_t{4 * default_slot_bytes}}) {
            SCOPED_TRACE(std::string(strsignal(signo)) + ", temporary of " +
                         std::to_string(reached) + " bytes");
            write_file(dir / "out", old);
            const pid_t pid = spawn_velkfile({fifo, out}, {"VELKFILE_THREADS=2"});
            ASSERT_GT(pid, 0);
            {
                // Enough that the written part passes `reached` whatever the
                // ring of slots still holds.
                const FifoFeeder feeder(fifo, plain, reached + 8 * default_slot_bytes,
                                        FifoFeeder::End::hold);
                EXPECT_TRUE(temp_reaches(dir, reached));
                const int raw = stop_with(pid, signo);
                ASSERT_NE(raw, -1) << "still running a minute after the signal";
                EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == signo && !WCOREDUMP(raw)) << raw;
            }
            EXPECT_EQ(read_file(dir / "out"), old);
            const std::vector<std::string> left = leftovers(dir);
            if (signo != SIGKILL) {
                EXPECT_EQ(left, std::vector<std::string>{});
            } else {
                EXPECT_LE(left.size(), 1u);
                for (const std::string &name : left) {
                    EXPECT_EQ(name.rfind(".out.velkfile-", 0), 0u) << name;
                    EXPECT_EQ(name.size(), std::string(".out.velkfile-XXXXXX").size()) << name;
                    fs::remove(dir / name);
                }
            }
        }
    }
    const pid_t pid = spawn_velkfile({fifo, out}, {"VELKFILE_THREADS=2"});
    ASSERT_GT(pid, 0);
    {
        const FifoFeeder feeder(fifo, plain, plain.size(), FifoFeeder::End::close);
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    }
    EXPECT_EQ(read_file(dir / "out"), result);
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
    sigaction(SIGPIPE, &saved, nullptr);
}

// The program turns core files off for itself, whatever it was started with.
TEST(Cli, CoreFilesAreOff) {
    ScratchDir dir;
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = spawn_velkfile({fifo, (dir / "out").string()});
    ASSERT_GT(pid, 0);
    // Once the program opens the FIFO it has set itself up.
    const int fd = open(fifo.c_str(), O_WRONLY);
    std::string limits;
    for (int i = 0; i < 500 && limits.find("Max core file size") == std::string::npos; ++i) {
        const Bytes text = read_file("/proc/" + std::to_string(pid) + "/limits");
        limits.assign(text.begin(), text.end());
    }
    close(fd);
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    const std::size_t at = limits.find("Max core file size");
    ASSERT_NE(at, std::string::npos) << limits;
    std::istringstream line(limits.substr(at + std::strlen("Max core file size")));
    std::string soft;
    line >> soft;
    EXPECT_EQ(soft, "0") << limits;
}

// While velkfile waits to open a FIFO, other users can read its command
// line; by then the key and vector texts must be gone from it.
TEST(Cli, KeyAndVectorTextsLeaveTheCommandLine) {
#ifdef VELK_TEST_EMULATED
    GTEST_SKIP() << "under an emulator, /proc/PID/cmdline shows the emulator's own copy of the "
                    "arguments, which the program cannot clear";
#endif
    ScratchDir dir;
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string raw_key = "RawKeyText-0123456789ab", raw_iv = "RawVecXY";
    for (const std::vector<std::string> &opts : std::vector<std::vector<std::string>>{
             {"-k", raw_key, "-v", raw_iv}, {"-K", hex_key, "-V", hex_vector, "-m", "cbc"}}) {
        std::vector<std::string> args = opts;
        args.insert(args.end(), {fifo, (dir / "out").string()});
        const pid_t pid = spawn_velkfile(args);
        ASSERT_GT(pid, 0);
        // Wait until it sleeps in the open of the FIFO: the arguments have
        // all been read by then.
        const std::string proc = "/proc/" + std::to_string(pid);
        bool waiting = false;
        for (int i = 0; i < 500 && !waiting; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const Bytes stat = read_file(proc + "/stat"), wchan = read_file(proc + "/wchan"),
                        call = read_file(proc + "/syscall");
            const std::string st(stat.begin(), stat.end()), where(wchan.begin(), wchan.end()),
                sc(call.begin(), call.end());
            waiting = st.find(") S ") != std::string::npos &&
                      (where == "wait_for_partner" || sc.rfind("257 ", 0) == 0);
        }
        const Bytes cmdline = read_file(proc + "/cmdline");
        const std::string text(cmdline.begin(), cmdline.end());
        EXPECT_TRUE(waiting) << "velkfile never blocked on the FIFO";
        EXPECT_NE(text.find(fifo), std::string::npos);
        for (const std::string &secret : {opts[1], opts[3]})
            EXPECT_EQ(text.find(secret), std::string::npos) << secret;
        // Let it finish: an empty input encrypts to the count byte alone.
        const int fd = open(fifo.c_str(), O_WRONLY);
        close(fd);
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
        EXPECT_EQ(read_file(dir / "out").size(), 1u);
    }
}

// Data that arrives slowly through a FIFO makes a run last over a second.
// Under a pseudo-terminal the progress line shows and is cleared; with
// standard error in a file nothing is printed. The output is the same.
TEST(Cli, ProgressShowsOnlyOnATerminal) {
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no script(1): progress under a terminal not checked";
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string feed =
        "{ (head -c 65536 /dev/zero; sleep 2; head -c 65536 /dev/zero) >fifo & } && ";
    const std::string cmd = "cd " + quote(dir.path.string()) + " && " + feed + "script -qec " +
                            quote(quote(VELKFILE_BIN) + " fifo tty.enc") +
                            " /dev/null </dev/null >tty.out 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    const Bytes shown = read_file(dir / "tty.out");
    const std::string tty(shown.begin(), shown.end());
    EXPECT_NE(tty.find("MB/s"), std::string::npos) << tty;
    EXPECT_NE(tty.find("\r\033[K"), std::string::npos) << tty;
    const Outcome plain = velkfile_run(dir, {"fifo", "plain.enc"}, feed);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out + plain.err, "");
    EXPECT_EQ(read_file(dir / "tty.enc"), read_file(dir / "plain.enc"));
    EXPECT_EQ(read_file(dir / "plain.enc").size(), 131073u);
}

// Under a 40-column terminal every drawn line fits in 39 columns, so no
// redraw wraps onto a new line, and a run stopped by a signal (SIGTERM: a
// background job of a shell without job control ignores SIGINT) leaves the
// line erased. The output is a FIFO drained slowly, so a file of known size (the
// widest line) takes over a second.
TEST(Cli, ProgressFitsANarrowTerminalAndIsErasedWhenStopped) {
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no script(1): progress under a terminal not checked";
    ScratchDir dir;
    write_file(dir / "in", Bytes(4 << 20, 1));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Drain 1 MiB after two seconds, then nothing until the program is gone.
    // (ThreadSanitizer holds the signal back until the blocked write returns,
    // so there the run ends only when the drain does, 20 seconds later.)
    const std::string drain =
        "{ (sleep 2; head -c 1048576 >/dev/null; exec sleep 20) <fifo & drain=$!; } && ";
    // Inside the terminal: stop the run once a line has been drawn.
    const std::string inner = "stty cols 40 rows 10; " + quote(VELKFILE_BIN) +
                              " in fifo & p=$!; i=0; while [ $i -lt 300 ] && ! grep -q MB tty.out;"
                              " do sleep 0.1; i=$((i+1)); done; kill -TERM $p; wait $p; echo \" "
                              "status $?\"";
    const std::string cmd = "cd " + quote(dir.path.string()) + " && " + drain + "script -qfec " +
                            quote(inner) + " /dev/null </dev/null >tty.out 2>&1; kill $drain";
    // Its status is that of the last kill, whose drain may be gone already;
    // what the terminal showed is what is checked.
    ASSERT_NE(std::system(cmd.c_str()), -1) << "no shell could be started";
    const Bytes shown = read_file(dir / "tty.out");
    const std::string tty(shown.begin(), shown.end());
    EXPECT_NE(tty.find("status 143"), std::string::npos) << tty;
    const std::size_t last_line = tty.rfind("MB");
    ASSERT_NE(last_line, std::string::npos) << tty;
    EXPECT_NE(tty.find("\r\033[K", last_line), std::string::npos) << "line left on screen";
    EXPECT_NE(tty.find("velkfile: "), std::string::npos) << tty;
    // Each drawing: "\r", the line, then "\033[K".
    std::size_t lines = 0;
    for (std::size_t at = tty.find('\r'); at != std::string::npos; at = tty.find('\r', at + 1)) {
        const std::size_t end = tty.find("\033[K", at);
        if (end == std::string::npos || tty.find('\r', at + 1) < end)
            continue;
        const std::string line = tty.substr(at + 1, end - at - 1);
        if (line.find("MB") == std::string::npos && line.find('%') == std::string::npos)
            continue;
        ++lines;
        EXPECT_LE(line.size(), 39u) << line;
    }
    EXPECT_GT(lines, 0u) << tty;
}

// The worker count changes no byte of any output and no error: with one
// thread, with the two the machine may give, with more asked for than it
// has, and on one CPU; from a file and from a pipe, for inputs of a few of
// the program's slots.
// A replaced output has its write-back started every few MiB while it is
// written: past that step, in one thread and in several, the result is the
// same whole file, and no temporary is left beside it.
TEST(Cli, LongReplacedOutputsAreWholeWhateverTheThreads) {
    ScratchDir dir;
    Random rng(38);
    const Bytes plain = rng.bytes((std::size_t{17} << 20) + 13);
    write_file(dir / "plain", plain);
    const Bytes enc = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    for (const std::string env : {"VELKFILE_THREADS=1", "VELKFILE_THREADS=2"}) {
        SCOPED_TRACE(env);
        write_file(dir / "out", rng.bytes(100));
        ASSERT_EQ(velkfile_run(dir, {"-m", "ecb", "plain", "out"}, env).status, 0);
        EXPECT_EQ(read_file(dir / "out"), enc);
        ASSERT_EQ(velkfile_run(dir, {"-d", "-m", "ecb", "out", "back"}, env).status, 0);
        EXPECT_EQ(read_file(dir / "back"), plain);
        EXPECT_TRUE(leftovers(dir).empty());
    }
}

TEST(Cli, ThreadsChangeNoOutputAndNoError) {
    ScratchDir dir;
    Random rng(36);
    const Bytes plain = rng.bytes(3 * default_slot_bytes + 5);
    write_file(dir / "plain", plain);
    std::vector<std::string> envs = {"VELKFILE_THREADS=1", "VELKFILE_THREADS=2",
                                     "VELKFILE_THREADS=8", "VELKFILE_THREADS=junk"};
    if (std::system("taskset -c 0 true >/dev/null 2>&1") == 0)
        envs.push_back("taskset -c 0");
    for (const std::string mode : {"ecb", "cbc"}) {
        const Bytes enc =
            encrypt_bytes(plain, default_key, default_value, mode == "cbc" ? mode_cbc : mode_ecb);
        write_file(dir / "enc", enc);
        for (const std::string &env : envs) {
            SCOPED_TRACE(mode + " " + env);
            ASSERT_EQ(velkfile_run(dir, {"-m", mode, "plain", "out"}, env).status, 0);
            EXPECT_EQ(read_file(dir / "out"), enc);
            ASSERT_EQ(
                velkfile_run(dir, {"-m", mode, "/dev/stdin", "out"}, "cat plain | " + env).status,
                0);
            EXPECT_EQ(read_file(dir / "out"), enc);
            ASSERT_EQ(velkfile_run(dir, {"-d", "-m", mode, "enc", "out"}, env).status, 0);
            EXPECT_EQ(read_file(dir / "out"), plain);
            ASSERT_EQ(velkfile_run(dir, {"-d", "-m", mode, "/dev/stdin", "out"}, "cat enc | " + env)
                          .status,
                      0);
            EXPECT_EQ(read_file(dir / "out"), plain);
        }
    }

    // Failures on workers: a full device, and a malformed tail several
    // slots into a pipe, found at its end after the earlier slots.
    const std::string env = "VELKFILE_THREADS=2";
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"plain", "/dev/full"}, {"-d", "enc", "/dev/full"}}) {
        if (!fs::exists("/dev/full"))
            break;
        const Outcome r = velkfile_run(dir, args, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error in write !\n");
    }
    // An output with a second hard link is written in place, so the slots
    // written before the fault show.
    fs::remove(dir / "out");
    write_file(dir / "out", {});
    fs::create_hard_link(dir / "out", dir / "out.link");
    for (const int last : {-1, 0, 9}) {
        Bytes bad = encrypt_bytes(plain, default_key, default_value, mode_cbc);
        if (last < 0)
            bad.pop_back();
        else
            bad.back() = static_cast<unsigned char>(last);
        write_file(dir / "bad", bad);
        const Outcome r =
            velkfile_run(dir, {"-d", "-m", "cbc", "/dev/stdin", "out"}, "cat bad | " + env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("velkfile: out: written in place, not replaced: it has 2 hard "
                              "links, which a replacement would cut off; a failed run leaves it "
                              "incomplete\n/dev/stdin: not a velkfile encrypted file",
                              0),
                  0u)
            << r.err;
        EXPECT_NE(r.err.find("out: left incomplete"), std::string::npos) << r.err;
        const Bytes out = read_file(dir / "out");
        EXPECT_GE(out.size(), 2 * default_slot_bytes);
        EXPECT_LT(out.size(), plain.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), plain.begin())) << last;
    }
}

} // namespace

namespace {

// Runs that a user could take for something they are not say so on standard
// error, one line each; standard output and the exit status stay as they
// were, and so do the bytes written.
TEST(Cli, NoticesNameWhatTheCommandLineLeftSilent) {
    ScratchDir dir;
    Random rng(47);
    const Bytes plain = rng.bytes(3000);
    write_file(dir / "in", plain);
    write_file(dir / "enc", encrypt_bytes(plain, default_key, default_value, mode_ecb));
    const std::string in_place = "velkfile: linked: written in place, not replaced: ";
    const std::string incomplete = "; a failed run leaves it incomplete\n";
    struct Case {
        std::vector<std::string> args;
        std::string prefix;
        std::string err;
    };
    std::vector<Case> cases = {
        {{"in", "out"}, "", default_key_notice},
        {{"-d", "-m", "ecb", "enc", "out"}, "", default_key_notice},
        {{"-k", "secret", "in", "out"}, "", ""},
        {{"-K", hex_key, "-m", "cbc", "in", "out"}, "", ""},
        {{"-k", "", "in", "out"}, "", ""}, // an empty key is a key the user chose
        {{"-k", "x", "-m", "Cbc", "in", "out"},
         "",
         "velkfile: -m Cbc: not a mode (the words are ecb and cbc, in lower case); ignored, ECB "
         "is used\n"},
        {{"-k", "x", "-m", "cbc", "-m", "ECB", "in", "out"},
         "",
         "velkfile: -m ECB: not a mode (the words are ecb and cbc, in lower case); ignored, CBC "
         "is used\n"},
        {{"-m", "", "-m", "ofb", "in", "out"},
         "",
         "velkfile: -m '': not a mode (the words are ecb and cbc, in lower case); ignored, ECB is "
         "used\nvelkfile: -m ofb: not a mode (the words are ecb and cbc, in lower case); ignored, "
         "ECB is used\n" +
             default_key_notice},
        {{"-k", "x", "in", "linked"},
         "",
         in_place + "it has 2 hard links, which a replacement would cut off" + incomplete},
        // Descriptor names and outputs that are no regular file need none.
        {{"-k", "x", "in", "/dev/null"}, "", ""},
        {{"-k", "x", "in", "/dev/fd/3"}, "exec 3>fd3;", ""},
    };
#ifndef VELK_TEST_EMULATED
    cases.push_back({{"-k", "x", "in", "out"},
                     std::string("LD_PRELOAD=") + TEMP_REFUSED_SHIM,
                     "velkfile: out: written in place, not replaced: no temporary file can be "
                     "made beside it (Permission denied)" +
                         incomplete});
#endif
    for (const Case &c : cases) {
        std::string shown = c.prefix;
        for (const std::string &a : c.args)
            shown += " " + a;
        SCOPED_TRACE(shown);
        fs::remove(dir / "linked2");
        write_file(dir / "linked", {1});
        fs::create_hard_link(dir / "linked", dir / "linked2");
        const Outcome r = velkfile_run_raw(dir, c.args, c.prefix);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
    }
    // The data on standard output is the same with the notice as without.
    const Outcome quiet = velkfile_run_raw(dir, {"-k", "x", "in", "/dev/stdout"});
    const Outcome noticed = velkfile_run_raw(dir, {"-m", "Ecb", "in", "/dev/stdout"});
    EXPECT_EQ(quiet.err, "");
    EXPECT_NE(noticed.err.find(default_key_notice), std::string::npos) << noticed.err;
    EXPECT_EQ(Bytes(noticed.out.begin(), noticed.out.end()),
              encrypt_bytes(plain, default_key, default_value, mode_ecb));
}

// Runs `command` (velkfile named $V) in `dir` with standard error in a file
// and returns the status and that text.
Outcome shell_err(const ScratchDir &dir, const std::string &command) {
    Outcome r;
    r.status = shell_in(dir, command + " 2>err");
    const Bytes e = read_file(dir / "err");
    r.err.assign(e.begin(), e.end());
    return r;
}

// Each refusal names the path it is about (quoted when empty) and its own
// cause, never a neighbouring one, and changes no file.
TEST(Cli, RefusalsNameThePathAndTheirCause) {
    ScratchDir dir;
    Random rng(48);
    const Bytes plain = rng.bytes(2000);
    write_file(dir / "in", plain);
    struct Case {
        std::string command;
        std::string err;
    };
    const Case cases[] = {
        {"\"$V\" -k x in ''", "'': empty file name\n"},
        {"\"$V\" -k x '' out", "'': empty file name\n"},
        // With standard output closed the input would take descriptor 1, and
        // /dev/stdout would name the input: the cause is the closed one.
        {"\"$V\" -k x in /dev/stdout >&-", "/dev/stdout: standard output is closed\n"},
        {"\"$V\" -k x in /dev/fd/1 >&-", "/dev/fd/1: standard output is closed\n"},
        {"\"$V\" -k x /dev/stdin out <&-", "/dev/stdin: standard input is closed\n"},
        {"\"$V\" -k x in /dev/stdin <in", "/dev/stdin: standard input is open for reading only\n"},
        {"\"$V\" -k x in /dev/fd/7 7<in", "/dev/fd/7: descriptor 7 is open for reading only\n"},
        {"\"$V\" -k x in /dev/stdout >>in", "in and /dev/stdout are the same file: refusing to "
                                            "overwrite the input\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        fs::remove(dir / "out");
        const Outcome r = shell_err(dir, c.command);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(fs::exists(dir / "out"));
        EXPECT_EQ(read_file(dir / "in"), plain);
    }
    // With standard output closed a run to a file still works; the input
    // does not take descriptor 1.
    const Outcome r = shell_err(dir, "\"$V\" -k x in out >&-");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "out"), encrypt_bytes(plain, key_from_text("x"), default_value,
                                                    mode_ecb));
}

// The output's directory is renamed while the run waits for more of a FIFO,
// and another takes its name: a new directory, or a link to a third one
// holding a file of the same name. The result lands in the directory the
// run opened, under its new name, and nowhere else.
TEST(Cli, AReplacementLandsInTheDirectoryItOpened) {
    ScratchDir dir;
    Random rng(49);
    const Bytes plain = rng.bytes(1 << 18), old = rng.bytes(500), other = rng.bytes(600);
    const Bytes result = encrypt_bytes(plain, default_key, default_value, mode_ecb);
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    for (const bool as_link : {false, true}) {
        SCOPED_TRACE(as_link ? "replaced by a link" : "replaced by a directory");
        fs::remove_all(dir / "d");
        fs::remove_all(dir / "moved");
        fs::remove_all(dir / "elsewhere");
        fs::create_directory(dir / "d");
        fs::create_directory(dir / "elsewhere");
        write_file(dir / "d" / "out", old);
        write_file(dir / "elsewhere" / "out", other);
        const pid_t pid = spawn_velkfile({fifo, (dir / "d" / "out").string()});
        ASSERT_GT(pid, 0);
        {
            const FifoFeeder feeder(fifo, plain, plain.size(), FifoFeeder::End::hold);
            bool started = false;
            for (int i = 0; i < 6000 && !started; ++i) {
                started = !leftovers_in(dir / "d").empty();
                if (!started)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ASSERT_TRUE(started);
            fs::rename(dir / "d", dir / "moved");
            if (as_link)
                fs::create_directory_symlink("elsewhere", dir / "d");
            else
                fs::create_directory(dir / "d");
        } // the FIFO closes: the run ends and renames its temporary
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
        EXPECT_EQ(read_file(dir / "moved" / "out"), result);
        EXPECT_EQ(read_file(dir / "elsewhere" / "out"), other);
        EXPECT_EQ(fs::exists(dir / "d" / "out"), as_link);
        for (const char *sub : {"moved", "d", "elsewhere"})
            EXPECT_EQ(leftovers_in(dir / sub), std::vector<std::string>{}) << sub;
    }
    sigaction(SIGPIPE, &saved, nullptr);
}

} // namespace
