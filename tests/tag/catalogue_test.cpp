// The tag command catalogues and assemblers on their own: golden payload bytes, the answer
// check, the value texts, the exciter frame, and answers cut and mixed as a line delivers them.

#include "tag/proto/commands/exciter.h"
#include "tag/proto/commands/v1_settings.h"
#include "tag/proto/commands/v3_settings.h"
#include "tag/proto/tag_answer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace kelta::tag;
using Bytes = std::vector<std::uint8_t>;

Bytes hex(const char* text) {
    Bytes out;
    std::string digits;
    for (const char* p = text; *p; ++p)
        if (*p != ' ') digits.push_back(*p);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes slice(const Bytes& b, std::size_t at, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
                 b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

constexpr const char* kPin = "7D41A09C3E5B2F86";

TEST(V3Catalogue, ActiveTimeWriteGolden) {
    const v3::Target t{0, "0001000112050211", kPin};
    const auto e = v3::EncodeSettingWrite(t, v3::Setting::ActiveTime, 10);
    ASSERT_TRUE(e.ok());
    Bytes want = hex("00 0001000112050211 FF FF 01 00 01 7D41A09C3E5B2F86 0A");
    want.resize(40, 0);
    EXPECT_EQ(e.bytes, want);
}

TEST(V3Catalogue, ValueOffsetsFollowTheItemIndex) {
    const v3::Target t{1, "0001000112050211", kPin};
    struct Case {
        v3::Setting s;
        std::uint8_t group, item;
        std::size_t offset;
    } cases[] = {
        {v3::Setting::ReceiveCount, 0x01, 0x33, 25}, {v3::Setting::ActiveCount, 0x01, 0x11, 23},
        {v3::Setting::GSensor05, 0x02, 0x55, 27},    {v3::Setting::GSensor02, 0x02, 0x22, 24},
        {v3::Setting::LedG, 0x0F, 0x22, 24},         {v3::Setting::Beep, 0x0F, 0x00, 22},
    };
    for (const Case& c : cases) {
        const auto e = v3::EncodeSettingWrite(t, c.s, 0x77);
        ASSERT_TRUE(e.ok());
        EXPECT_EQ(e.bytes[0], 1); // CID addressing
        EXPECT_EQ(slice(e.bytes, 10, 3), (Bytes{0xFF, c.group, c.item}));
        for (std::size_t i = 22; i < 40; ++i)
            EXPECT_EQ(e.bytes[i], i == c.offset ? 0x77 : 0x00) << "offset " << i;
    }
}

TEST(V3Catalogue, ShortTagIdFillsTheLeadingBytesInEveryClass) {
    const v3::Target t{0, "1234", kPin};
    const Bytes id = hex("1234 0000 0000 0000");
    EXPECT_EQ(slice(v3::EncodeSettingWrite(t, v3::Setting::Beep, 1).bytes, 1, 8), id);
    EXPECT_EQ(slice(v3::EncodeSettingRead(t, v3::Setting::Version).bytes, 1, 8), id);
    EXPECT_EQ(slice(v3::EncodeAesMode(t, true).bytes, 1, 8), id);
    EXPECT_EQ(slice(v3::EncodeKey(t, 0, "").bytes, 1, 8), id);
}

TEST(V3Catalogue, ReadsAreTwentyFourBytesWithoutValues) {
    const auto e = v3::EncodeSettingRead({0, "0001000112050211", kPin}, v3::Setting::Version);
    ASSERT_TRUE(e.ok());
    Bytes want = hex("00 0001000112050211 FF FF 03 0F 01 7D41A09C3E5B2F86 0000");
    EXPECT_EQ(e.bytes, want);
}

TEST(V3Catalogue, AdministrationAndKeyGolden) {
    const v3::Target t{0, "0001000112050211", kPin};
    const Bytes head = hex("00 0001000112050211 FF FE 01");
    auto check = [&](const v3::Encoded& e, std::uint8_t item, std::size_t at, const Bytes& value) {
        ASSERT_TRUE(e.ok());
        ASSERT_EQ(e.bytes.size(), 40u);
        EXPECT_EQ(slice(e.bytes, 0, 12), head);
        EXPECT_EQ(e.bytes[12], item);
        EXPECT_EQ(e.bytes[13], 0x01);
        EXPECT_EQ(slice(e.bytes, 14, 8), hex(kPin));
        EXPECT_EQ(slice(e.bytes, at, value.size()), value);
    };
    check(v3::EncodeCid(t, {"0102", "A0B0", "00FF", "1234"}), 0x08, 22, hex("0102A0B000FF1234"));
    check(v3::EncodeIdMode(t, 0), 0x88, 30, {0x30}); // "CID MODE"
    check(v3::EncodeIdMode(t, 1), 0x88, 30, {0x31});
    check(v3::EncodeAesMode(t, true), 0x99, 31, {0x32});
    check(v3::EncodeAesMode(t, false), 0x99, 31, {0x30});
    check(v3::EncodeSelectKey(t, 8), 0xAA, 32, {0x08}); // "KEY-G"

    const auto k = v3::EncodeKey(t, 5, "00112233445566778899AABBCCDDEEFF");
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(slice(k.bytes, 9, 5), hex("FF FC 05 0F 01"));
    EXPECT_EQ(slice(k.bytes, 22, 16), hex("00112233445566778899AABBCCDDEEFF"));
    EXPECT_EQ(slice(k.bytes, 38, 2), hex("0000"));
}

TEST(V3Catalogue, FieldsThatAreNotHexNameTheField) {
    const v3::Target good{0, "0001000112050211", kPin};
    struct Case {
        v3::Encoded e;
        v3::Field field;
    } cases[] = {
        {v3::EncodeSettingWrite({0, "00010001120502G1", kPin}, v3::Setting::Beep, 1),
         v3::Field::TagId},
        {v3::EncodeSettingRead({0, "12 4", kPin}, v3::Setting::ActiveTime), v3::Field::TagId},
        {v3::EncodeAesMode({0, "0001", "7D41A09C3E5B2FXX"}, true), v3::Field::Pin},
        {v3::EncodeCid(good, {"0001", "00z1", "0001", "0001"}), v3::Field::Cid},
        {v3::EncodeKey(good, 0, "00112233445566778899AABBCCDDEEFG"), v3::Field::Key},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.e.ok());
        EXPECT_EQ(c.e.error, c.field);
    }
}

// The tag ID and the PIN are trimmed of blanks before they are cut into
// pairs, so a blank typed before or after the digits is no error and changes no byte.
TEST(V3Catalogue, BlanksAroundTheTagIdAndThePinAreTrimmed) {
    const v3::Target plain{0, "0001000112050211", kPin};
    const v3::Target blanks{0, " 0001000112050211 ", " 7D41A09C3E5B2F86  "};
    const auto same = [](const v3::Encoded& a, const v3::Encoded& b, const char* what) {
        EXPECT_TRUE(a.ok()) << what;
        EXPECT_TRUE(b.ok()) << what;
        EXPECT_EQ(a.bytes, b.bytes) << what;
    };
    same(v3::EncodeAesMode(plain, true), v3::EncodeAesMode(blanks, true), "administration");
    same(v3::EncodeCid(plain, {"0102", "A0B0", "00FF", "1234"}),
         v3::EncodeCid(blanks, {"0102", "A0B0", "00FF", "1234"}), "CID");
    same(v3::EncodeKey(plain, 5, "00112233445566778899AABBCCDDEEFF"),
         v3::EncodeKey(blanks, 5, "00112233445566778899AABBCCDDEEFF"), "key");
    // The settings class pads the ID to 16 digits first, then trims: a short ID typed after a
    // blank is the same short ID.
    const v3::Target shortPlain{0, "1234", kPin}, shortBlank{0, "  1234", " 7D41A09C3E5B2F86"};
    same(v3::EncodeSettingWrite(shortPlain, v3::Setting::Beep, 1),
         v3::EncodeSettingWrite(shortBlank, v3::Setting::Beep, 1), "settings write");
    same(v3::EncodeSettingRead(shortPlain, v3::Setting::Version),
         v3::EncodeSettingRead(shortBlank, v3::Setting::Version), "settings read");
    same(
        v3::EncodeSettingWrite(plain, v3::Setting::LedR, 3),
        v3::EncodeSettingWrite({0, "0001000112050211", " 7D41A09C3E5B2F86 "}, v3::Setting::LedR, 3),
        "settings PIN");
    // A blank between the digits is still no hexadecimal pair.
    EXPECT_EQ(v3::EncodeAesMode({0, "0001 000112050211", kPin}, true).error, v3::Field::TagId);
    EXPECT_EQ(v3::EncodeAesMode({0, "0001000112050211", "7D41 A09C3E5B2F86"}, true).error,
              v3::Field::Pin);
}

TEST(V1Catalogue, BlanksAroundTheTagIdAreTrimmed) {
    for (const char* typed : {" 0001000112050211", "0001000112050211 ", "\t0001000112050211  "}) {
        const auto e = v1::Encode(typed, v1::Command::Beep, 5);
        ASSERT_TRUE(e.ok()) << typed;
        EXPECT_EQ(e.bytes, hex("0001000112050211 42 00 05 0000000000")) << typed;
    }
    EXPECT_EQ(slice(v1::Encode(" 123 ", v1::Command::Beep, 1).bytes, 0, 8),
              hex("1200000000000000"));
}

// An answer as a tag sends it: item at 17, FF FF at 20-21, group at 22, values from 24.
Bytes answerFor(std::uint8_t group, std::uint8_t item, const Bytes& values) {
    Bytes a(42, 0);
    a[17] = item;
    a[20] = a[21] = 0xFF;
    a[22] = group;
    std::copy(values.begin(), values.end(), a.begin() + 24);
    return a;
}

TEST(V3Catalogue, AnswerCheckAndValue) {
    const Bytes values{9, 8, 7, 6, 5, 4};
    EXPECT_EQ(v3::DecodeSettingAnswer(answerFor(0x01, 0x33, values), v3::Setting::ReceiveCount), 6);
    EXPECT_EQ(v3::DecodeSettingAnswer(answerFor(0x02, 0x55, values), v3::Setting::GSensor05), 4);
    // Another item, another group, a missing FF, an empty answer store: rejected.
    EXPECT_FALSE(v3::DecodeSettingAnswer(answerFor(0x01, 0x11, values), v3::Setting::ReceiveCount));
    EXPECT_FALSE(v3::DecodeSettingAnswer(answerFor(0x02, 0x00, values), v3::Setting::ActiveTime));
    Bytes broken = answerFor(0x01, 0x00, values);
    broken[21] = 0xFE;
    EXPECT_FALSE(v3::DecodeSettingAnswer(broken, v3::Setting::ActiveTime));
    EXPECT_FALSE(v3::DecodeSettingAnswer(Bytes(1024, 0), v3::Setting::ActiveTime));
    EXPECT_FALSE(v3::DecodeSettingAnswer(Bytes{}, v3::Setting::ActiveTime));
}

TEST(V3Catalogue, VersionTextUpToTheFirstZeroOrSixteenBytes) {
    const std::string full = "ABCDEFGHIJKLMNOP";
    Bytes a = answerFor(0x03, 0x0F, Bytes(full.begin(), full.end()));
    a[40] = 'Q'; // behind the 16 bytes: not part of the text
    EXPECT_EQ(v3::DecodeVersionAnswer(a), full);
    a[24 + 5] = 0;
    EXPECT_EQ(v3::DecodeVersionAnswer(a), "ABCDE");
    EXPECT_FALSE(v3::DecodeVersionAnswer(answerFor(0x01, 0x0F, {'A'})));
}

TEST(V3Catalogue, ValueTexts) {
    EXPECT_EQ(v3::TimeCodeText(1), "0.01 Sec");
    EXPECT_EQ(v3::TimeCodeText(6), "0.15 Sec");
    EXPECT_EQ(v3::TimeCodeText(10), "2.5 Sec");
    EXPECT_EQ(v3::TimeCodeText(20), "600 Sec");
    EXPECT_EQ(v3::TimeCodeText(0), "");
    EXPECT_EQ(v3::TimeCodeText(21), "");
    EXPECT_EQ(v3::TenthsText(1), "0.1 Sec ");
    EXPECT_EQ(v3::TenthsText(10), "1 Sec ");
    EXPECT_EQ(v3::TenthsText(15), "1.5 Sec ");
    EXPECT_EQ(v3::TenthsText(255), "25.5 Sec ");
}

TEST(V1Catalogue, PayloadsGolden) {
    struct Case {
        v1::Command c;
        std::uint8_t value;
        const char* want;
        int answerMode;
    } cases[] = {
        {v1::Command::ActiveTime, 10, "0001000112050211 77 40 0A 0000000000", 1},
        {v1::Command::ActiveTimeGet, 10, "0001000112050211 72 40 0A 0000000000", 3},
        {v1::Command::ActiveCountGet, 3, "0001000112050211 72 41 03 0000000000", 3},
        {v1::Command::Receiver, 200, "0001000112050211 77 43 C8 0000000000", 1},
        {v1::Command::Beep, 5, "0001000112050211 42 00 05 0000000000", 1},
        {v1::Command::LedR, 7, "0001000112050211 4C 02 07 0000000000", 1},
        {v1::Command::LedG, 7, "0001000112050211 4C 01 07 0000000000", 1},
    };
    for (const Case& c : cases) {
        const auto e = v1::Encode("0001000112050211", c.c, c.value);
        ASSERT_TRUE(e.ok());
        EXPECT_EQ(e.bytes, hex(c.want));
        EXPECT_EQ(v1::entryOf(c.c).answerMode, c.answerMode);
    }
    // As typed: no zeros appended, bytes without a pair stay 0; not hex: refused.
    EXPECT_EQ(slice(v1::Encode("123", v1::Command::Beep, 1).bytes, 0, 8), hex("1200000000000000"));
    EXPECT_EQ(v1::Encode("12X4", v1::Command::Beep, 1).error, v3::Field::TagId);
}

TEST(Exciter, FramesOfTheFourSteps) {
    const auto steps = exciter::ExciterSteps(30, "001E", true);
    EXPECT_EQ(exciter::BuildExciterFrame(steps[0]), hex("0E 01 95 06 1E 82 0D"));
    EXPECT_EQ(slice(exciter::BuildExciterFrame(steps[1]), 2, 3), hex("95 07 00"));
    EXPECT_EQ(slice(exciter::BuildExciterFrame(steps[2]), 2, 3), hex("95 08 1E"));
    EXPECT_EQ(slice(exciter::BuildExciterFrame(steps[3]), 2, 3), hex("95 09 01"));
    EXPECT_EQ(exciter::ExciterSteps(25, "0001", false)[0][2], 0x19);
    EXPECT_EQ(exciter::ExciterSteps(25, "0001", false)[2][2], 0x01);
    EXPECT_EQ(exciter::ExciterSteps(25, "0001", false)[3][2], 0x00);
    for (const auto& s : steps) {
        const Bytes f = exciter::BuildExciterFrame(s);
        std::uint8_t x = 0;
        for (std::size_t i = 0; i + 2 < f.size(); ++i) x ^= f[i];
        EXPECT_EQ(f[f.size() - 2], x);
    }
}

TEST(Exciter, AnswerAssembler) {
    using State = exciter::AnswerAssembler::State;
    struct Case {
        const char* bytes;
        State end;
        std::size_t count;
    } cases[] = {
        {"0E 01 95 06 1E 82 0D", State::Good, 7},
        {"0E 01 95 06 1E 83 0D", State::BadChecksum, 7},
        {"0E 02 95 06 1E 00 81 0D", State::Good, 8}, // complete, but not 7 bytes
        {"0E 01 95 06 1E 82", State::Collecting, 6},
        {"0E 01 0D 06 1E 1A 0D", State::Good, 7},          // an early 0D does not end it
        {"00 0E 01 95 06 1E 82 0D", State::Collecting, 8}, // a byte before the start: no frame
    };
    for (const Case& c : cases) {
        exciter::AnswerAssembler a;
        State s = State::Collecting;
        std::size_t n = 0;
        for (const std::uint8_t b : hex(c.bytes)) {
            s = a.feed(b);
            ++n;
            if (s != State::Collecting) break;
        }
        EXPECT_EQ(s, c.end) << c.bytes;
        EXPECT_EQ(n, c.count) << c.bytes;
    }
}

// 06, length, flags, code, [ID], data.
Bytes answerFrame(std::uint16_t code, const Bytes& data, bool withId = false) {
    Bytes f{0x06,
            0,
            0,
            static_cast<std::uint8_t>(withId ? 0x08 : 0x00),
            0x00,
            static_cast<std::uint8_t>(code >> 8),
            static_cast<std::uint8_t>(code)};
    if (withId) f.insert(f.end(), {0x00, 0x07});
    f.insert(f.end(), data.begin(), data.end());
    const std::size_t len = f.size() - 3;
    f[1] = static_cast<std::uint8_t>(len >> 8);
    f[2] = static_cast<std::uint8_t>(len);
    return f;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TagAnswer, AcceptsTheExpectedCodeAmongOthers) {
    const Bytes right = answerFrame(0x6033, {1, 2, 3, 4}, true);
    struct Case {
        const char* what;
        Bytes stream;
    } cases[] = {
        {"alone", right},
        {"after garbage", cat({{0x00, 0x12, 0x05}, right})},
        {"after a wrong code", cat({answerFrame(0x6032, {9}), right})},
        {"after fifteen wrong codes",
         [&] {
             Bytes s;
             for (int i = 0; i < 15; ++i) s = cat({s, answerFrame(0x6011, {9, 9})});
             return cat({s, right});
         }()},
        {"after a start byte with an impossible length", cat({{0x06, 0x00, 0x01, 0, 0, 0}, right})},
    };
    for (const Case& c : cases) {
        TagAnswerAssembler a(0x6033);
        ASSERT_TRUE(a.feed(c.stream)) << c.what;
        EXPECT_EQ(a.answerLength(), 4) << c.what; // L - 4 - 2 with the reader ID
        EXPECT_EQ(slice(Bytes(a.answerData().begin(), a.answerData().end()), 0, 5),
                  (Bytes{1, 2, 3, 4, 0}))
            << c.what;
        EXPECT_EQ(a.header().size(), 9u) << c.what;
    }
}

TEST(TagAnswer, SplitAnswerIsCompletedInTheNextRead) {
    const Bytes f = answerFrame(0x6032, {0x00, 0xAB, 0xCD});
    for (std::size_t cut = 1; cut < f.size(); ++cut) {
        TagAnswerAssembler a(0x6032);
        a.startAttempt(0x6032);
        EXPECT_FALSE(a.feed(slice(f, 0, cut))); // one read of the attempt
        EXPECT_TRUE(a.inFrame());
        ASSERT_TRUE(a.feed(slice(f, cut, f.size() - cut))) << "cut at " << cut; // the next read
        EXPECT_EQ(a.answerData()[1], 0xAB);
    }
    TagAnswerAssembler dropped(0x6032);
    dropped.feed(slice(f, 0, 5));
    dropped.reset(); // the exchange ended: the rest alone is no answer
    EXPECT_FALSE(dropped.feed(slice(f, 5, f.size() - 5)));
}

// A stray start byte with a plausible length, left by one attempt, does not swallow the answer
// of the next attempt: each attempt starts clean of a partial frame.
TEST(TagAnswer, APartialFrameOfOneAttemptDoesNotSwallowTheNextAttemptsAnswer) {
    const Bytes stray = {0x06, 0x00, 0x40, 0x08, 0x00, 0x60, 0x33, 0x00}; // 0x43 bytes promised
    const Bytes answer = answerFrame(0x6033, {0x11, 0x22});
    TagAnswerAssembler a(0x6033);
    a.startAttempt(0x6033);
    EXPECT_FALSE(a.feed(stray));
    EXPECT_TRUE(a.inFrame());
    a.startAttempt(0x6033); // the attempt ran out; the next one
    EXPECT_FALSE(a.inFrame());
    ASSERT_TRUE(a.feed(answer));
    EXPECT_EQ(a.answerLength(), 2);
    EXPECT_EQ(a.answerData()[1], 0x22);

    // Kept bytes (an answer in the same read as the acknowledgement) still wait for it, split
    // or not.
    const Bytes ack = answerFrame(0x6033, {0x00});
    TagAnswerAssembler b(0x6033);
    ASSERT_TRUE(b.feed(cat({ack, slice(answer, 0, 5)})));
    b.startAttempt(0x6033);
    EXPECT_FALSE(b.feed({}));
    ASSERT_TRUE(b.feed(slice(answer, 5, answer.size() - 5)));
    EXPECT_EQ(b.answerData()[1], 0x22);
}

TEST(TagAnswer, AnswerInTheSameReadAsTheAcknowledgementWaitsForTheNextAttempt) {
    const Bytes ack = answerFrame(0x6033, {0x00});
    const Bytes tagAnswer = answerFrame(0x6033, {0x11, 0x22});
    TagAnswerAssembler a(0x6033);
    ASSERT_TRUE(a.feed(cat({ack, tagAnswer})));
    EXPECT_EQ(a.answerLength(), 1);
    EXPECT_EQ(a.keptBytes(), tagAnswer.size());
    a.startAttempt(0x6033);
    ASSERT_TRUE(a.feed({}));
    EXPECT_EQ(a.answerLength(), 2);
    EXPECT_EQ(a.answerData()[1], 0x22);
}

TEST(TagAnswer, FrameLongerThanTheBufferIsDropped) {
    Bytes big = answerFrame(0x6033, Bytes(1100, 0x06));
    const Bytes right = answerFrame(0x6033, {0x42});
    TagAnswerAssembler a(0x6033);
    // Its length cannot fit: the start byte is dropped, and the many 0x06 of its data only
    // start frames of impossible length in turn. The answer after it is still taken.
    EXPECT_TRUE(a.feed(cat({big, right})));
    EXPECT_EQ(a.answerData()[0], 0x42);
}

} // namespace
