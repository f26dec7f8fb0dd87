// Decoding speed of tag report blocks: live blocks of 1, 10 and 100 frames and log blocks of
// 9 records per frame, in records per second.
#include "../tests/proto_decode/frames.h"

#include <benchmark/benchmark.h>

using namespace kelta::monitor;
using namespace testframes;

namespace {

struct CountingSink : TagRecordSink {
    long records = 0;
    std::size_t bytes = 0;
    bool hasCurrentTagGrid() const override { return true; }
    void PostTagRecord(const DecodedTagRecord& r, DecodeMode) override {
        ++records;
        bytes += r.uid.size() + r.d1h.size() + r.gps.size();
    }
};

// A mix of what readers send: plain records, sensor records and records with GPS.
Tag MixedTag(int i) {
    Tag t;
    t.uid = 0x1000 + static_cast<std::uint64_t>(i);
    switch (i % 3) {
    case 1:
        t.version = 0x10;
        t.model = 0x01;
        t.d1 = 0x8000 + 6500;
        t.d2 = 1000;
        break;
    case 2:
        t.gps = Gps{};
        break;
    default:
        break;
    }
    return t;
}

void Run(benchmark::State& state, DecodeMode mode, const Bytes& block, long recordsPerBlock) {
    CountingSink sink;
    long pumps = 0;
    const std::function<void()> pump = [&pumps] { ++pumps; };
    for (auto _ : state) {
        benchmark::DoNotOptimize(SplitReportBlock(mode, LinkKind::Serial, "01", block, sink, pump));
    }
    if (sink.records != static_cast<long>(state.iterations()) * recordsPerBlock)
        state.SkipWithError("not every record was accepted");
    benchmark::DoNotOptimize(sink.bytes);
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(sink.records), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(block.size()));
}

void BM_LiveBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Bytes block;
    for (int i = 0; i < frames; ++i) {
        const Bytes f = LiveFrame(MixedTag(i));
        block.insert(block.end(), f.begin(), f.end());
    }
    Run(state, DecodeMode::Live, block, frames);
}
BENCHMARK(BM_LiveBlock)->Arg(1)->Arg(10)->Arg(100);

void BM_LogBlock(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Bytes block;
    for (int f = 0; f < frames; ++f) {
        std::vector<LogEntry> entries(9);
        for (int i = 0; i < 9; ++i) {
            entries[static_cast<std::size_t>(i)].tag = MixedTag(i);
            entries[static_cast<std::size_t>(i)].tag.gps.reset();
            if (i % 3 == 2) entries[static_cast<std::size_t>(i)].gps = Gps{};
        }
        const Bytes frame = LogFrame(LogPayload(static_cast<std::uint16_t>(f * 9), entries));
        block.insert(block.end(), frame.begin(), frame.end());
    }
    Run(state, DecodeMode::Log, block, 9L * frames);
}
BENCHMARK(BM_LogBlock)->Arg(1)->Arg(10);

} // namespace

BENCHMARK_MAIN();
