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
        auto frame = kelta::fuzz::AnswerFrame(a.header(), a.data(), a.answerLength(), code,
                                              TagAnswerAssembler::kBufferSize);
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
    const kelta::fuzz::AnswerInput in(data, size);
    if (!in.usable()) return 0;
    in.sameForAnyReads([&](const auto& reads) { return Answers(in.code(), reads, in.stream()); },
                       53);

    // A reset forgets everything: what follows is assembled as a fresh stream.
    TagAnswerAssembler a(in.code());
    a.feed(in.stream());
    a.reset();
    Require(!a.accepted() && !a.inFrame() && a.keptBytes() == 0 && a.header().empty());
    return 0;
}
