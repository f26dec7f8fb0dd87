// The simulator and the utility's own protocol code, each checked by the other: report and
// log frames decoded back, requests and commands parsed, answers collected.

#include "monitor/proto/monitor_frame.h"
#include "monitor/proto/report_decoder.h"
#include "reader/proto/answer_collector.h"
#include "reader/proto/reader_frame.h"
#include "sim_test_util.h"
#include "tag/proto/tag_frame.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace kelta::sim;
using namespace kelta::sim::test;
namespace mon = kelta::monitor;

namespace {

struct Sink : mon::TagRecordSink {
    bool hasCurrentTagGrid() const override { return true; }
    void PostTagRecord(const mon::DecodedTagRecord& r, mon::DecodeMode) override {
        records.push_back(r);
    }
    std::vector<mon::DecodedTagRecord> records;
};

std::vector<mon::DecodedTagRecord> decode(mon::DecodeMode mode, const Bytes& block) {
    Sink s;
    mon::SplitReportBlock(mode, mon::LinkKind::Network, "127.0.0.1", block, s);
    return s.records;
}

} // namespace

TEST(SimAgainstDecoder, LiveFramesOfEveryVariantDecodeBack) {
    PopulationOptions o;
    o.count = 12;
    o.sensors = SensorMix::Mixed;
    o.gps = true;
    for (bool ext : {false, true}) {
        for (std::uint16_t type : {kTypeLive, kTypeLiveAlt}) {
            TagPopulation pop(o, 3);
            HeaderOptions h;
            h.withExtension = ext;
            Bytes block; // all frames merged into one block, as one read brings them
            std::vector<TagReading> sent;
            for (int i = 0; i < 24; ++i) {
                sent.push_back(pop.nextReading(static_cast<std::uint16_t>(1 + i)));
                const Bytes f = encodeLiveFrame(sent.back(), type, h);
                block.insert(block.end(), f.begin(), f.end());
            }
            const auto got = decode(mon::DecodeMode::Live, block);
            ASSERT_EQ(got.size(), sent.size()) << ext << " " << type;
            for (std::size_t i = 0; i < sent.size(); ++i) {
                char id[8];
                std::snprintf(id, sizeof id, "%04d", sent[i].readerId);
                EXPECT_EQ(got[i].readerId, id);
                EXPECT_EQ(got[i].uid, uidHex(sent[i].uid));
                EXPECT_EQ(got[i].rssi, std::to_string(sent[i].rssi));
                EXPECT_EQ(got[i].lqi, std::to_string(sent[i].lqi));
                EXPECT_FALSE(got[i].gps.empty());
                const bool sensor = (sent[i].model & 0xF) != 0;
                if (sensor && (sent[i].d1 >> 14) != 1) {
                    EXPECT_NE(got[i].d1h.find(" C / "), std::string::npos) << got[i].d1h;
                }
                if (!sensor) {
                    EXPECT_TRUE(got[i].d1h.empty());
                }
            }
        }
    }
}

TEST(SimAgainstDecoder, AcceptanceBoundsOfThePopulation) {
    // LQI 20 is below the utility's bound; LQI 21 with RSSI 1 is just inside it.
    PopulationOptions o;
    o.count = 1;
    o.lqiMin = o.lqiMax = 20;
    TagPopulation low(o, 1);
    EXPECT_TRUE(decode(mon::DecodeMode::Live,
                       encodeLiveFrame(low.nextReading(1), kTypeLive, HeaderOptions{}))
                    .empty());
    o.lqiMin = o.lqiMax = 21;
    o.rssiMin = o.rssiMax = 1;
    TagPopulation edge(o, 1);
    EXPECT_EQ(decode(mon::DecodeMode::Live,
                     encodeLiveFrame(edge.nextReading(1), kTypeLive, HeaderOptions{}))
                  .size(),
              1u);
    // Identities with hex letters come through with their letters.
    o.uids = {Uid{0, 0, 0, 0, 0, 0, 0, 0xA1}};
    TagPopulation letters(o, 1);
    const auto got = decode(mon::DecodeMode::Live,
                            encodeLiveFrame(letters.nextReading(1), kTypeLive, HeaderOptions{}));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].uid, "00000000000000A1");
    // A report without the reader ID field does not carry the reader ID the utility wants.
    HeaderOptions noId;
    noId.withReaderId = false;
    TagPopulation again(o, 1);
    const auto none =
        decode(mon::DecodeMode::Live, encodeLiveFrame(again.nextReading(1), kTypeLive, noId));
    EXPECT_TRUE(none.empty() || none[0].uid != "00000000000000A1");
}

TEST(SimAgainstDecoder, TagLogOverTcpDecodesWithConsecutiveIndexes) {
    // Over TCP: the utility's own tag-log request, the simulator's frames, the decoder.
    SimHost host;
    ReaderConfig c;
    c.readerId = 12;
    c.logRecords = 40;
    c.logFirstSequence = 65530; // the sequence number wraps at 16 bits
    c.tags.gps = true;
    const int idx = host.addReader(c);
    const quint16 port = host.listenTcp(idx);
    QTcpSocket s;
    s.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    ASSERT_TRUE(s.waitForConnected(5000));
    ASSERT_TRUE(host.waitForPeer(idx, true, 5000));
    const auto req = mon::tagLogCommand(12);
    QByteArray all;
    for (int i = 0; i < 6; ++i) {
        s.write(reinterpret_cast<const char*>(req.data()), static_cast<qint64>(req.size()));
        const auto want = static_cast<std::size_t>(std::min(i + 1, 5)); // 9+9+9+9+4 records
        readUntil(
            s, all, [&](const QByteArray& b) { return cutFrames(b).frames.size() >= want; }, 5000);
    }
    Sink sink;
    for (const QByteArray& f : cutFrames(all).frames) {
        const Bytes b(f.begin(), f.end());
        mon::SplitReportBlock(mon::DecodeMode::Log, mon::LinkKind::Network, "x", b, sink);
    }
    ASSERT_EQ(sink.records.size(), 40u);
    for (std::size_t i = 0; i < sink.records.size(); ++i) {
        EXPECT_EQ(sink.records[i].index, std::to_string((65530 + i) & 0xFFFF));
        EXPECT_EQ(sink.records[i].readerId, "0012");
        EXPECT_FALSE(sink.records[i].gps.empty());
    }
    EXPECT_EQ(sink.records[0].logStatus, "New TAG Entry");
    EXPECT_EQ(sink.records[4].logStatus, "Temperature Over range");
    EXPECT_EQ(sink.records[11].logStatus, "8");
    EXPECT_EQ(sink.records[0].logDateTime, "2026/01/01 08:00:00");
    const auto got = host.reader(idx).received();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].raw, req);
    EXPECT_EQ(got[0].readerId, 12);
}

TEST(SimAgainstReaderFrames, RequestsParseAndAnswersAreCollected) {
    const Bytes payload{0x01, 0x02, 0x03, 0x04, 0x05};
    for (int id : {0, 12}) {
        const auto req = kelta::reader::BuildReaderRequest(0x0041, id, payload);
        ASSERT_TRUE(req);
        FrameCollector fc;
        std::vector<ReceivedFrame> frames;
        fc.feed(*req, frames);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_TRUE(frames[0].hasCrc);
        EXPECT_TRUE(frames[0].crcOk);
        EXPECT_EQ(frames[0].data, payload);
        EXPECT_EQ(frames[0].readerId.has_value(), id > 0);
    }
    const Bytes data{0xDE, 0xAD, 0xBE, 0xEF};
    for (bool withId : {false, true}) {
        for (bool ext : {false, true}) {
            HeaderOptions h;
            h.withReaderId = withId;
            h.withExtension = ext;
            kelta::reader::AnswerCollector col(0x0041);
            // A wrong code first is dropped; the right one after it is taken.
            Bytes stream = encodeAnswer(0x0042, h, data);
            const Bytes right = encodeAnswer(0x0041, h, data);
            stream.insert(stream.end(), right.begin(), right.end());
            EXPECT_TRUE(col.feed(stream));
            // answerLength: data, the 4 bytes of 0x0400 and the two trailing bytes.
            EXPECT_EQ(col.answerLength(), data.size() + 2 + (ext ? 4 : 0));
            EXPECT_TRUE(std::equal(data.begin(), data.end(), col.data().begin()));
        }
    }
    // An answer cut in two leaves the collector inside the frame after the first part.
    kelta::reader::AnswerCollector col(0x0003);
    const Bytes a = encodeAnswer(0x0003, HeaderOptions{}, data);
    EXPECT_FALSE(col.feed(std::span(a).first(a.size() / 2)));
    EXPECT_TRUE(col.synchronised());
    EXPECT_TRUE(col.feed(std::span(a).subspan(a.size() / 2)));
}

TEST(SimAgainstCommandFrames, MonitoringAndTagCommandsParse) {
    std::vector<Bytes> sent{mon::linkModeAnnouncement(true), mon::linkModeAnnouncement(false),
                            mon::tagLogCommand(0x0102)};
    for (const auto& f : mon::connectionSetupFrames()) sent.push_back(f);
    const Bytes tagPayload(40, 0x5A);
    sent.push_back(*kelta::tag::BuildTagCommandFrame(0x0210, tagPayload, 1, 0x8000));
    Bytes stream;
    for (const Bytes& f : sent) stream.insert(stream.end(), f.begin(), f.end());
    FrameCollector fc;
    std::vector<ReceivedFrame> got;
    for (std::uint8_t b : stream) fc.feed(std::span(&b, 1), got);
    ASSERT_EQ(got.size(), sent.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].raw, sent[i]);
        EXPECT_FALSE(got[i].hasCrc);
    }
    EXPECT_EQ(got[0].data, (Bytes{0x30, 0x31, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[2].readerId, 0x0102);
    EXPECT_EQ(got[4].readerId, 0);
    EXPECT_EQ(got[5].code, 0x0210);
    EXPECT_EQ(got[5].readerId, 1);
    EXPECT_EQ(got[5].data, tagPayload);
}
