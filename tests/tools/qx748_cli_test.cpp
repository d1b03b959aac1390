// qx748 devmode, run as a separate program on files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/cli_command.h"
#include "uiplugin/settings/private_devmode.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;
const unsigned char kHeaderBytes[12] = {0x40, 0x02, 0, 0, 0x4C, 0x50, 0x43, 0x4E, 1, 0, 0, 0};

struct Result {
    int status;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qx748-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    Result Qx(const std::string &args) const {
        const std::string out = Path(".stdout"), err = Path(".stderr");
        const std::string cmd = Qx748Command() + " " + args + " >'" + out + "' 2>'" + err + "'";
        const int raw = std::system(cmd.c_str());
        Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
        fs::remove(out), fs::remove(err);
        return r;
    }
    static std::string Slurp(const std::string &p) {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    static Bytes Read(const std::string &p) {
        const std::string s = Slurp(p);
        return Bytes(s.begin(), s.end());
    }
    static void Write(const std::string &p, const Bytes &b) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), b.size());
    }
    // The folder holds exactly these names (no temp files left behind).
    void ExpectFiles(std::vector<std::string> names) const {
        std::vector<std::string> got;
        for (const auto &e : fs::directory_iterator(dir_)) got.push_back(e.path().filename().string());
        std::sort(got.begin(), got.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(got, names);
    }
    static void ExpectOneLineError(const Result &r) {
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.err.rfind("qx748: ", 0), 0u) << r.err;
    }

    fs::path dir_;
};

Bytes DefaultRecord() {
    Bytes b(576);
    qx::WritePrivateDevMode(qx::DefaultPrivateDevMode(), b.data());
    return b;
}
void Put16(Bytes &b, size_t o, uint16_t v) { b[o] = v & 0xFF, b[o + 1] = v >> 8; }

TEST_F(Cli, DefaultCreatesTheDefaultRecordAndKeepsUnwrittenBytes) {
    const std::string a = Path("a.bin");
    Result r = Qx("devmode default '" + a + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(a), DefaultRecord());

    Bytes b(576, 0xAB);
    Put16(b, 12, 7);
    Write(Path("b.bin"), b);
    ASSERT_EQ(Qx("devmode default '" + Path("b.bin") + "'").status, 0);
    const Bytes after = Read(Path("b.bin"));
    EXPECT_EQ(0, std::memcmp(after.data(), kHeaderBytes, 12));
    EXPECT_EQ(after[12], 7);      // brightness kept
    EXPECT_EQ(after[52], 0xAB);   // path kept
    EXPECT_EQ(after[34], 10);     // unsharpRadius written
    ExpectFiles({"a.bin", "b.bin"});
}

TEST_F(Cli, ConvertAndMergeRewriteTheOutputInPlace) {
    Bytes in = DefaultRecord();
    in[8] = 7;    // version
    in[12] = 50;  // brightness out of range
    Write(Path("in.bin"), in);
    Write(Path("out1.bin"), DefaultRecord());
    Write(Path("out2.bin"), DefaultRecord());
    ASSERT_EQ(Qx("devmode convert '" + Path("in.bin") + "' '" + Path("out1.bin") + "'").status, 0);
    ASSERT_EQ(Qx("devmode merge '" + Path("in.bin") + "' '" + Path("out2.bin") + "'").status, 0);
    Bytes converted = Read(Path("out1.bin")), merged = Read(Path("out2.bin"));
    EXPECT_EQ(converted[8], 1);
    EXPECT_EQ(converted[12], 50);
    EXPECT_EQ(merged[12], 0);
    EXPECT_EQ(Read(Path("in.bin")), in);

    Bytes foreign(576, 0x11);
    Write(Path("foreign.bin"), foreign);
    ASSERT_EQ(Qx("devmode merge '" + Path("foreign.bin") + "' '" + Path("out1.bin") + "'").status, 0);
    const Bytes out = Read(Path("out1.bin"));
    EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 12));
    EXPECT_EQ(out[34], 10);
    EXPECT_EQ(out[32], 0);
    ExpectFiles({"in.bin", "out1.bin", "out2.bin", "foreign.bin"});
}

TEST_F(Cli, ShowFindsTheBlockInADumpAndFlagsBadFields) {
    Bytes rec = DefaultRecord();
    Put16(rec, 24, 0xFFFF);  // sharpness 65535: out of range
    Bytes dump(220 + 40 + 576 + 17, 0);
    std::copy(rec.begin(), rec.end(), dump.begin() + 262);
    Write(Path("dump.bin"), dump);
    Result r = Qx("devmode show '" + Path("dump.bin") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("private block at offset 262"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sharpness"), std::string::npos);
    EXPECT_NE(r.out.find("65535"), std::string::npos);
    EXPECT_NE(r.out.find("OUT OF RANGE"), std::string::npos);

    r = Qx("devmode show '" + Path("dump.bin") + "' --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"offset\": 262,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"name\": \"sharpness\", \"offset\": 24, \"width\": 2, \"type\": \"uint16\", \"value\": 65535"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"allInRange\": false"), std::string::npos);

    Write(Path("bare.bin"), DefaultRecord());
    r = Qx("devmode show --json '" + Path("bare.bin") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"bare\": true"), std::string::npos);
    EXPECT_NE(r.out.find("\"allInRange\": true"), std::string::npos);
    EXPECT_NE(r.out.find("\"name\": \"unsharpRadius\", \"offset\": 34, \"width\": 2, \"type\": \"int16\", \"value\": 10, "
                         "\"range\": \"1..30\""),
              std::string::npos) << r.out;
}

TEST_F(Cli, ErrorsExitWithStatus2AndWriteNothing) {
    Write(Path("short.bin"), Bytes(575, 0));
    Write(Path("long.bin"), Bytes(577, 0));
    Write(Path("good.bin"), DefaultRecord());
    const Bytes good = Read(Path("good.bin"));
    const std::string cases[] = {
        "devmode default '" + Path("short.bin") + "'",
        "devmode default '" + Path("long.bin") + "'",
        "devmode convert '" + Path("short.bin") + "' '" + Path("good.bin") + "'",
        "devmode merge '" + Path("good.bin") + "' '" + Path("long.bin") + "'",
        "devmode convert '" + Path("missing.bin") + "' '" + Path("good.bin") + "'",
        "devmode merge '" + Path("good.bin") + "' '" + Path("missing.bin") + "'",
        "devmode show '" + Path("missing.bin") + "'",
        "devmode show '" + Path("short.bin") + "'",
        "devmode show '" + Path("long.bin") + "'",  // larger, but no block inside
        "devmode default '" + Path("nodir/x.bin") + "'",
        "devmode default",
        "devmode convert '" + Path("good.bin") + "'",
        "devmode show '" + Path("good.bin") + "' --xml",
        "devmode frobnicate",
        "devmode",
        "frobnicate",
        "",
    };
    for (const std::string &c : cases) {
        SCOPED_TRACE(c);
        ExpectOneLineError(Qx(c));
    }
    EXPECT_EQ(Read(Path("short.bin")), Bytes(575, 0));
    EXPECT_EQ(Read(Path("long.bin")), Bytes(577, 0));
    EXPECT_EQ(Read(Path("good.bin")), good);
    ExpectFiles({"short.bin", "long.bin", "good.bin"});
}

TEST_F(Cli, HelpOnEveryCommandAndVersion) {
    for (const char *c : {"--help", "devmode --help", "devmode default --help", "devmode convert --help",
                          "devmode merge --help", "devmode show --help"}) {
        Result r = Qx(c);
        EXPECT_EQ(r.status, 0) << c;
        EXPECT_EQ(r.out.rfind("usage: qx748", 0), 0u) << c << ": " << r.out;
        EXPECT_TRUE(r.err.empty()) << c;
    }
    // Help never writes, even with a file named.
    EXPECT_EQ(Qx("devmode default '" + Path("x.bin") + "' --help").status, 0);
    ExpectFiles({});
    Result v = Qx("--version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("qx748 1.", 0), 0u) << v.out;
}

}  // namespace
