// Fuzz entry for the tag-answer assembler. The first two input bytes are the command code
// expected, the third seeds the read boundaries, the rest is what the link delivers during one
// exchange. After every accepted answer a new attempt for the same code starts with the bytes
// kept, as the exchange does. The answers accepted must not depend on the read boundaries, and
// each must be a frame of the input with the expected code and its declared length.
#include "fuzz_support.h"
#include "tag/proto/tag_answer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

using kelta::fuzz::Frames;
using kelta::fuzz::Require;
using kelta::tag::TagAnswerAssembler;

Frames Answers(std::uint16_t code, const std::vector<std::span<const std::uint8_t>>& reads,
               std::span<const std::uint8_t> stream) {
    Frames answers;
    TagAnswerAssembler a(code);
    std::size_t fed = 0;
    auto take = [&] {
        std::vector<std::uint8_t> frame(a.header().begin(), a.header().end());
        frame.insert(frame.end(), a.data().begin(), a.data().end());
        Require(frame.size() >= 7 && frame[0] == 0x06);
        Require(kelta::fuzz::Be16At(frame, 1) + 3u == frame.size());
        Require(frame.size() < TagAnswerAssembler::kBufferSize);
        Require(kelta::fuzz::Be16At(frame, 5) == code);
        Require(a.answerLength() <= frame.size() - 7);
        // Kept bytes are the input behind the frame: the frame ends where they begin.
        Require(a.keptBytes() <= fed);
        const auto end = stream.begin() + static_cast<std::ptrdiff_t>(fed - a.keptBytes());
        Require(std::equal(frame.begin(), frame.end(),
                           end - static_cast<std::ptrdiff_t>(frame.size())));
        Require(std::equal(a.answerData().begin(),
                           a.answerData().begin() + static_cast<std::ptrdiff_t>(a.data().size()),
                           a.data().begin()));
        answers.push_back(std::move(frame));
        a.startAttempt(code);
    };
    for (const auto& r : reads) {
        fed += r.size();
        if (a.feed(r)) take();
        // The bytes kept after an answer are looked at by the next attempt.
        while (a.keptBytes() > 0 && a.feed({})) take();
        Require(a.keptBytes() == 0);
    }
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint16_t code = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    const std::uint8_t control = data[2];
    const kelta::fuzz::ExactCopy copy(std::span<const std::uint8_t>(data + 3, size - 3));
    const auto stream = copy.span();

    const Frames whole = Answers(code, {stream}, stream);
    Require(Answers(code, kelta::fuzz::ByteReads(stream), stream) == whole);
    Require(Answers(code, kelta::fuzz::Reads(stream, control, 1 + control % 53), stream) == whole);

    // A reset forgets everything: what follows is assembled as a fresh stream.
    TagAnswerAssembler a(code);
    a.feed(stream);
    a.reset();
    Require(!a.accepted() && !a.inFrame() && a.keptBytes() == 0 && a.header().empty());
    return 0;
}
