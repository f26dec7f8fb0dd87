// kelta-decode: decodes tag report blocks from stdin and prints one tab-separated line per
// accepted record, in the column order of the tag grid of the chosen mode.

#include "kelta/version.h"
#include "monitor/proto/report_decoder.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kelta::monitor::DecodedTagRecord;
using kelta::monitor::DecodeMode;

constexpr const char* kUsage =
    "usage: kelta-decode [--log] [--binary] [--help] [--version]\n"
    "Reads tag report blocks from stdin and prints the accepted records.\n"
    "  (default)  one block per line as hex digits; blanks allowed; empty lines and lines\n"
    "             starting with '#' are ignored\n"
    "  --binary   the whole input is one block of raw bytes\n"
    "  --log      decode tag-log blocks instead of live reports\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "Output: one line per accepted record, fields separated by tabs, then\n"
    "\"N accepted, M rejected\".\n";

class PrintingSink : public kelta::monitor::TagRecordSink {
public:
    bool hasCurrentTagGrid() const override { return true; }
    void PostTagRecord(const DecodedTagRecord& r, DecodeMode mode) override {
        ++accepted;
        std::string line = std::to_string(accepted);
        for (const std::string* f : {&r.uid, &r.rssi, &r.lqi, &r.tagVer, &r.packet, &r.model,
                                     &r.keyNo, &r.group, &r.sState, &r.battery, &r.isnH, &r.isnL,
                                     &r.d1h, &r.d1l, &r.d2h, &r.d2l, &r.readerId}) {
            line += '\t';
            line += *f;
        }
        if (mode == DecodeMode::Log) {
            for (const std::string* f : {&r.index, &r.logDateTime, &r.gps, &r.logStatus}) {
                line += '\t';
                line += *f;
            }
        } else {
            line += "\t1\t"; // Count: each printed record is one report
            line += r.gps;
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    long accepted = 0;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex digit pairs, blanks anywhere; nothing when the text is not hex.
std::optional<std::vector<std::uint8_t>> ParseHexLine(std::string_view line) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') continue;
        const int v = HexValue(c);
        if (v < 0) return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt; // odd number of digits
    return bytes;
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

} // namespace

int main(int argc, char** argv) {
    DecodeMode mode = DecodeMode::Live;
    bool binary = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--log") {
            mode = DecodeMode::Log;
        } else if (arg == "--binary") {
            binary = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("kelta-decode " KELTA_VERSION "\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "kelta-decode: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }

    PrintingSink sink;
    long handed = 0;
    const std::function<void()> count = [&handed] { ++handed; };
    auto decode = [&](const std::vector<std::uint8_t>& block) {
        kelta::monitor::SplitReportBlock(mode, kelta::monitor::LinkKind::Serial, "00", block, sink,
                                         count);
    };

    if (binary) {
        std::freopen(nullptr, "rb", stdin);
        const std::vector<std::uint8_t> block((std::istreambuf_iterator<char>(std::cin)),
                                              std::istreambuf_iterator<char>());
        decode(block);
    } else {
        std::string line;
        long lineNo = 0;
        while (std::getline(std::cin, line)) {
            ++lineNo;
            if (IsBlank(line) || line.front() == '#') continue;
            const auto block = ParseHexLine(line);
            if (!block) {
                std::fprintf(stderr, "kelta-decode: line %ld is not hex, skipped\n", lineNo);
                continue;
            }
            decode(*block);
        }
    }
    std::printf("%ld accepted, %ld rejected\n", sink.accepted, handed - sink.accepted);
    return 0;
}
