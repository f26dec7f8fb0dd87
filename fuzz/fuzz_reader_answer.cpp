// Fuzz entry for the answer collector of the reader configuration link. The first two input
// bytes are the command code expected, the third seeds the read boundaries, the rest is what
// the link delivers. The accepted answer must not depend on how the bytes were cut into reads,
// must be a frame of the input with the expected code and its declared length, and its trace
// fields (header and data) must be exactly that frame.
#include "fuzz_support.h"
#include "reader/proto/answer_collector.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

using kelta::fuzz::Require;
using kelta::reader::AnswerCollector;

struct Outcome {
    bool accepted = false;
    std::vector<std::uint8_t> header, data, answer;
    std::uint16_t answerLength = 0;
    bool operator==(const Outcome&) const = default;
};

Outcome Collect(std::uint16_t code, const std::vector<std::span<const std::uint8_t>>& reads,
                bool bytewise) {
    AnswerCollector c(0xFFFF);
    c.reset(code);
    for (const auto& r : reads) {
        if (bytewise) {
            for (const std::uint8_t b : r) c.feed(b);
        } else {
            c.feed(r);
        }
        if (!c.accepted()) {
            Require(c.answerLength() == 0 && c.header().empty() && c.data().empty());
        }
    }
    Outcome o;
    o.accepted = c.accepted();
    if (!o.accepted) return o;
    o.header.assign(c.header().begin(), c.header().end());
    o.data.assign(c.data().begin(), c.data().end());
    o.answerLength = c.answerLength();
    o.answer.assign(c.answerData().begin(), c.answerData().begin() + o.answerLength);
    // Behind the data the answer store reads as zero.
    Require(std::all_of(c.answerData().begin() + static_cast<std::ptrdiff_t>(o.data.size()),
                        c.answerData().end(), [](std::uint8_t b) { return b == 0; }));
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelta::fuzz::AnswerInput in(data, size);
    if (!in.usable()) return 0;
    const std::uint16_t code = in.code();
    const auto stream = in.stream();

    const Outcome whole =
        in.sameForAnyReads([&](const auto& reads) { return Collect(code, reads, false); }, 41);
    // Fed a byte at a time, the collector gives the same.
    Require(Collect(code, {stream}, true) == whole);
    Require(Collect(code, kelta::fuzz::Reads(stream, in.readSeed() + 1u, 300), true) == whole);
    if (!whole.accepted) return 0;

    // Header and data are one frame of the input with the expected code.
    const auto frame = kelta::fuzz::AnswerFrame(whole.header, whole.data, whole.answerLength, code,
                                                AnswerCollector::kBufferSize);
    Require(std::search(stream.begin(), stream.end(), frame.begin(), frame.end()) != stream.end());
    Require(std::equal(whole.answer.begin(),
                       whole.answer.begin() + static_cast<std::ptrdiff_t>(
                                                  std::min(whole.answer.size(), whole.data.size())),
                       whole.data.begin()));
    return 0;
}
