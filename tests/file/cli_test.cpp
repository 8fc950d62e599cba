// The built velkfile program: its command line, its output files and every
// error path, including pipes as input and a full device as output.
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

// Runs `prefix velkfile args` through the shell inside `dir`; `prefix` may
// feed a pipe ("cat x |").
Outcome velkfile_run(const ScratchDir &dir, const std::vector<std::string> &args,
                     const std::string &prefix = "") {
    std::string cmd =
        "cd " + quote(dir.path.string()) + " && " + prefix + " " + quote(VELKFILE_BIN);
    for (const auto &a : args)
        cmd += " " + quote(a);
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
    const Bytes plain = rng.bytes(1000);
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
        EXPECT_NE(r.err.find("out: left incomplete"), std::string::npos) << r.err;
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
    EXPECT_NE(r.err.find("out: left incomplete"), std::string::npos) << r.err;
}

// The worker count changes no byte of any output and no error: with one
// thread, with the two the machine may give, with more asked for than it
// has, and on one CPU; from a file and from a pipe, for inputs of a few of
// the program's slots.
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
        EXPECT_EQ(r.err.rfind("/dev/stdin: not a velkfile encrypted file", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("out: left incomplete"), std::string::npos) << r.err;
        const Bytes out = read_file(dir / "out");
        EXPECT_GE(out.size(), 2 * default_slot_bytes);
        EXPECT_LT(out.size(), plain.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), plain.begin())) << last;
    }
}

} // namespace
