// Runs the kelta-decode program on hand-built input and checks what it prints.
#include "frames.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace testframes;
namespace fs = std::filesystem;

namespace {

std::string SpacedHex(const Bytes& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::uint8_t x : b) {
        s += digits[x >> 4];
        s += digits[x & 15];
        s += ' ';
    }
    return s;
}

std::vector<std::string> Lines(const fs::path& p) {
    std::ifstream in(p);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

struct ToolRun {
    int status = -1;
    std::vector<std::string> out;
    std::string err;
};

class DecodeTool : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kelta-decode-test-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun Run(const std::string& input, const std::string& options = "") {
        const fs::path tool = fs::path(KELTA_BINARY_DIR) / "kelta-decode";
        EXPECT_TRUE(fs::exists(tool)) << "build the kelta-decode target first";
        { std::ofstream(dir_ / "in", std::ios::binary) << input; }
        const std::string cmd = "'" + tool.string() + "' " + options + " < '" +
                                (dir_ / "in").string() + "' > '" + (dir_ / "out").string() +
                                "' 2> '" + (dir_ / "err").string() + "'";
        ToolRun r;
        r.status = std::system(cmd.c_str());
        r.out = Lines(dir_ / "out");
        std::ifstream e(dir_ / "err");
        std::stringstream ss;
        ss << e.rdbuf();
        r.err = ss.str();
        return r;
    }

    fs::path dir_;
};

} // namespace

TEST_F(DecodeTool, LiveLinesInGridColumnOrder) {
    Tag plain;
    Tag rejected;
    rejected.lqi = 20;
    Tag sensor;
    sensor.version = 0x10;
    sensor.model = 0x01;
    sensor.d1 = 0x8000 + 6500;
    sensor.d2 = 1000;
    sensor.gps = Gps{};
    const std::string input = "# two accepted, one rejected\n\n" + SpacedHex(LiveFrame(plain)) +
                              "\n" + "zz not hex\n" + SpacedHex(LiveFrame(rejected)) + "\r\n" +
                              SpacedHex(LiveFrame(sensor)) + "\n";
    const ToolRun r = Run(input);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 3u);
    EXPECT_EQ(r.out[0],
              "1\t0102030405060708\t50\t60\t30\t10100101\t21\t0C\tFE\t10000001\t99\t3C\tC3"
              "\t12\t34\tAB\tCD\t0007\t1\t");
    EXPECT_EQ(r.out[1],
              "2\t0102030405060708\t50\t60\t10\t10100101\t01\t0C\tFE\t10000001\t99\t3C\tC3"
              "\t25.00 C / 77.00 F\t\t33.70%\t\t0007\t1\t"
              "+121\u00B030'15.25\",+25\u00B002'03.04\",300,7");
    EXPECT_EQ(r.out[2], "2 accepted, 1 rejected");
    EXPECT_NE(r.err.find("line 4"), std::string::npos) << r.err;
}

TEST_F(DecodeTool, LogModeColumns) {
    LogEntry e;
    e.status = 7;
    const ToolRun r = Run(SpacedHex(LogFrame(LogPayload(5, {e}))) + "\n", "--log");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 2u);
    EXPECT_EQ(r.out[0],
              "1\t0102030405060708\t50\t60\t30\t10100101\t21\t0C\tFE\t10000001\t99\t3C\tC3"
              "\t12\t34\tAB\tCD\t0007\t5\t2024/03/05 07:08:09\t\tInterval record");
    EXPECT_EQ(r.out[1], "1 accepted, 0 rejected");
}

TEST_F(DecodeTool, BinaryInputIsOneBlock) {
    const Bytes block = Concat({LiveFrame(Tag{}), LiveFrame(Tag{}, 0x0C00)});
    const ToolRun r = Run(std::string(block.begin(), block.end()), "--binary");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 3u);
    EXPECT_EQ(r.out[1].substr(0, 2), "2\t");
    EXPECT_EQ(r.out[2], "2 accepted, 0 rejected");

    EXPECT_NE(Run("", "--bogus").status, 0);
}
