// Fuzz entry for the exciter answer assembler and frame builder. Arbitrary bytes fed to the
// assembler: once it leaves collecting, the bytes it holds must be a frame (start, length,
// checksum, end) and the state must stay. The input taken as a payload: the frame built
// around it must be collected as good exactly at its last byte.
#include "fuzz_support.h"
#include "tag/proto/commands/exciter.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

using kelta::fuzz::Require;
namespace ex = kelta::tag::exciter;
using State = ex::AnswerAssembler::State;

void CheckStream(std::span<const std::uint8_t> bytes) {
    ex::AnswerAssembler a;
    std::vector<std::uint8_t> held; // what the assembler holds, wrapping like its buffer
    State last = State::Collecting;
    for (const std::uint8_t b : bytes) {
        const State s = a.feed(b);
        if (last != State::Collecting) {
            Require(s == last); // a finished answer stays as it is
            continue;
        }
        if (held.size() == ex::kBufferSize) held.clear();
        held.push_back(b);
        if (s != State::Collecting) {
            Require(held.size() >= 6 && held.front() == ex::kStart && held.back() == ex::kEnd);
            Require(held[1] + 6u == held.size());
            const std::uint8_t sum =
                ex::ExciterChecksum(std::span<const std::uint8_t>(held).first(held.size() - 2));
            Require((s == State::Good) == (sum == held[held.size() - 2]));
        } else {
            Require(a.count() == held.size() % ex::kBufferSize);
        }
        last = s;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelta::fuzz::ExactCopy copy(std::span<const std::uint8_t>(data, size));
    CheckStream(copy.span());

    // The frame around the input as payload (2 to 257 bytes fit the length byte).
    if (size < 2 || size > 257) return 0;
    const std::vector<std::uint8_t> frame = ex::BuildExciterFrame(copy.span());
    Require(frame.size() == size + 4 && frame.front() == ex::kStart && frame.back() == ex::kEnd);
    ex::AnswerAssembler a;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const State s = a.feed(frame[i]);
        Require(s == (i + 1 == frame.size() ? State::Good : State::Collecting));
    }
    return 0;
}
