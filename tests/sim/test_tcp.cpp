// The simulated reader over loopback TCP, on its own thread: live reports, answers to
// requests and their modes, the tag-log answer, recorded frames, and the client line.

#include "sim_test_util.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace kelta::sim;
using namespace kelta::sim::test;

namespace {

// A request frame with CRC, built from the layout: 05 len flags code [id] payload crc.
QByteArray request(std::uint16_t code, int readerId, const QByteArray& payload = {}) {
    Bytes f{0x05, 0, 0};
    putU16(f, readerId > 0 ? 0x8801 : 0x8001);
    putU16(f, code);
    if (readerId > 0) putU16(f, static_cast<std::uint16_t>(readerId));
    for (char c : payload) f.push_back(static_cast<std::uint8_t>(c));
    const auto n = static_cast<std::uint16_t>(f.size() - 3 + 2);
    f[1] = static_cast<std::uint8_t>(n >> 8);
    f[2] = static_cast<std::uint8_t>(n);
    putU16(f, crc16(std::span(f).subspan(1)));
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
}

// 05 00 0E 88 00 80 61 hi lo 01 01 00x6
QByteArray logRequest(int id) {
    return hex("05000E88008061") + QByteArray(1, static_cast<char>(id >> 8)) +
           QByteArray(1, static_cast<char>(id & 0xFF)) + hex("0101") + QByteArray(6, 0);
}

class SimTcp : public ::testing::Test {
protected:
    void start(ReaderConfig cfg = {}) {
        idx = host.addReader(cfg);
        port = host.listenTcp(idx);
        ASSERT_NE(port, 0);
        sock.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        ASSERT_TRUE(sock.waitForConnected(5000));
        ASSERT_TRUE(host.waitForPeer(idx, true, 5000));
    }
    // Reads until n whole frames came in.
    std::vector<QByteArray> frames(std::size_t n, int timeoutMs = 5000) {
        readUntil(
            sock, buf, [n](const QByteArray& b) { return cutFrames(b).frames.size() >= n; },
            timeoutMs);
        return cutFrames(buf).frames;
    }
    SimHost host;
    int idx = -1;
    quint16 port = 0;
    QTcpSocket sock;
    QByteArray buf;
};

} // namespace

TEST_F(SimTcp, LiveReportsAtRateWithReaderIdAndCounter) {
    ReaderConfig c;
    c.readerId = 42;
    c.rate = 200;
    c.tags.count = 3;
    start(c);
    const auto f = frames(20);
    ASSERT_GE(f.size(), 20u);
    std::set<std::string> uids;
    for (const QByteArray& fr : f) {
        EXPECT_EQ(u16(fr, 3), 0x0800);
        EXPECT_EQ(u16(fr, 5), 0x6040);
        EXPECT_EQ(u16(fr, 7), 42);
        EXPECT_EQ(fr.size(), 33);
        uids.insert(fr.mid(9 + 6, 8).toHex().toUpper().toStdString());
    }
    EXPECT_EQ(uids.size(), 3u);
    host.call(idx, [](ReaderSim& r) { r.setRate(0); });
    // Everything counted as sent arrives, and only that.
    const quint64 sent = host.reader(idx).stats().liveFramesSent;
    const auto all = frames(sent);
    EXPECT_EQ(all.size(), sent);
    quint64 perUid = 0;
    for (const auto& [uid, n] : host.reader(idx).sentPerUid()) perUid += n;
    EXPECT_EQ(perUid, sent);
}

TEST_F(SimTcp, RecordsAnnouncementAndSetupFrames) {
    start();
    const QByteArray setupData =
        hex("FFFF010001") + QByteArray(8, 0) + hex("33") + QByteArray(15, 0);
    sock.write(hex("05000C000060113031") + QByteArray(6, 0));
    sock.write(hex("050021000060"
                   "30") +
               setupData);
    sock.write(hex("0500230800603000"
                   "00") +
               setupData);
    // 0x6011 with the serial digits, then a tag-log request with reader ID 0x0102.
    sock.write(hex("05000C000060113030") + QByteArray(6, 0));
    sock.write(logRequest(0x0102));
    ASSERT_TRUE(host.waitForFrames(idx, 5, 5000));
    const auto got = host.reader(idx).received();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].code, 0x6011);
    EXPECT_EQ(got[0].data, (Bytes{0x30, 0x31, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[0].raw.size(), 15u);
    EXPECT_EQ(got[1].code, 0x6030);
    EXPECT_EQ(got[1].raw.size(), 36u);
    EXPECT_FALSE(got[1].readerId);
    EXPECT_EQ(got[2].raw.size(), 38u);
    EXPECT_EQ(got[2].readerId, 0);
    EXPECT_EQ(got[2].data.size(), 29u);
    EXPECT_EQ(got[3].data, (Bytes{0x30, 0x30, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[4].code, 0x8061);
    EXPECT_EQ(got[4].flags, 0x8800);
    EXPECT_EQ(got[4].readerId, 0x0102);
    EXPECT_FALSE(got[4].hasCrc);
    EXPECT_EQ(host.reader(idx).stats().announcementsReceived, 2u);
}

TEST_F(SimTcp, AnswersEveryCodeButNotABadCrc) {
    start();
    host.call(idx, [](ReaderSim& r) { r.setAnswer(0x0041, {0x12, 0x34, 0x56}); });
    QByteArray bad = request(0x0041, 0);
    bad[bad.size() - 1] = static_cast<char>(bad[bad.size() - 1] ^ 0x55);
    sock.write(bad);
    ASSERT_TRUE(host.waitForFrames(idx, 1, 5000));
    sock.write(request(0x0041, 0));
    sock.write(request(0x0003, 12));
    const auto f = frames(2);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(host.reader(idx).stats().badCrcRequests, 1u);
    // 06 len 0000 0041 12 34 56 crc: the damaged request produced nothing before it.
    EXPECT_EQ(u16(f[0], 5), 0x0041);
    EXPECT_EQ(u16(f[0], 3) & 0x0800, 0);
    EXPECT_EQ(f[0].mid(7, 3), hex("123456"));
    EXPECT_EQ(f[0].size(), 12);
    // A request with ID 12 gets an answer with ID field and the default data.
    EXPECT_EQ(u16(f[1], 5), 0x0003);
    EXPECT_EQ(u16(f[1], 3) & 0x0800, 0x0800);
    EXPECT_EQ(u16(f[1], 7), 1);
    EXPECT_EQ(f[1].mid(9, 4), hex("00010203"));
    EXPECT_EQ(u16(f[1], 1), f[1].size() - 3);
}

TEST_F(SimTcp, AnswerModes) {
    start();
    AnswerMode wrong;
    wrong.wrongCodeFirst = true;
    wrong.extension = true;
    wrong.id = IdMode::Always;
    host.call(idx, [&](ReaderSim& r) { r.setAnswerModeFor(0x0010, wrong); });
    sock.write(request(0x0010, 0));
    auto f = frames(2);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(u16(f[0], 5), 0x0011);
    EXPECT_EQ(u16(f[1], 5), 0x0010);
    EXPECT_EQ(u16(f[1], 3), 0x0C00);
    EXPECT_EQ(f[1].size(), 7 + 2 + 4 + 4 + 2);

    // Late: nothing within the first 300 ms of a 700 ms delay, then the answer.
    buf.clear();
    AnswerMode late;
    late.delayMs = 700;
    host.call(idx, [&](ReaderSim& r) { r.setAnswerMode(late); });
    sock.write(request(0x0020, 0));
    EXPECT_FALSE(readUntil(
        sock, buf, [](const QByteArray& b) { return !b.isEmpty(); }, 300));
    f = frames(1, 3000);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(u16(f[0], 5), 0x0020);

    // Split: the first half alone, and the rest after the gap.
    buf.clear();
    AnswerMode split;
    split.splitGapMs = 400;
    host.call(idx, [&](ReaderSim& r) { r.setAnswerMode(split); });
    sock.write(request(0x0030, 0));
    ASSERT_TRUE(readUntil(
        sock, buf, [](const QByteArray& b) { return !b.isEmpty(); }, 3000));
    EXPECT_TRUE(cutFrames(buf).frames.empty());
    EXPECT_FALSE(readUntil(
        sock, buf, [](const QByteArray& b) { return cutFrames(b).frames.size() == 1; }, 150));
    f = frames(1, 3000);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(u16(f[0], 5), 0x0030);

    // None: recorded, never answered.
    buf.clear();
    AnswerMode none;
    none.none = true;
    host.call(idx, [&](ReaderSim& r) { r.setAnswerMode(none); });
    const std::size_t before = host.reader(idx).receivedCount();
    sock.write(request(0x0040, 0));
    ASSERT_TRUE(host.waitForFrames(idx, before + 1, 3000));
    EXPECT_FALSE(readUntil(
        sock, buf, [](const QByteArray& b) { return !b.isEmpty(); }, 200));
}

TEST_F(SimTcp, TagLogFramesCarryConsecutiveSequenceNumbersThenStop) {
    ReaderConfig c;
    c.readerId = 9;
    c.logRecords = 30;
    c.tags.count = 4;
    start(c);
    const QByteArray req = logRequest(9);
    std::vector<QByteArray> f;
    for (int i = 0; i < 6; ++i) {
        sock.write(req);
        f = frames(static_cast<std::size_t>(std::min(i + 1, 4)));
    }
    ASSERT_EQ(f.size(), 4u); // 9 + 9 + 9 + 3; the later requests get nothing
    int records = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        EXPECT_EQ(u16(f[i], 5), 0x8061);
        const QByteArray payload = f[i].mid(9);
        ASSERT_EQ((payload.size() - 8) % 56, 0);
        const int k = static_cast<int>((payload.size() - 8) / 56);
        EXPECT_EQ(u16(payload, 4), 1 + records) << i;
        for (int r = 0; r < k; ++r) EXPECT_EQ(u16(payload, 8 + 56 * r + 8), 9); // reader ID
        records += k;
    }
    EXPECT_EQ(records, 30);
    ASSERT_TRUE(host.waitForFrames(idx, 0x8061, 6, 5000));
    EXPECT_FALSE(readUntil(
        sock, buf, [](const QByteArray& b) { return cutFrames(b).frames.size() > 4; }, 200));
    const SimStats s = host.reader(idx).stats();
    EXPECT_EQ(s.logRequestsReceived, 6u);
    EXPECT_EQ(s.logRecordsSent, 30u);

    // Streamed: the first request gets every frame.
    buf.clear();
    host.call(idx, [](ReaderSim& r) {
        r.setLogPacing(LogPacing::Stream);
        r.restartLog();
    });
    sock.write(req);
    EXPECT_EQ(frames(4).size(), 4u);
}

TEST_F(SimTcp, FaultsOnTheStream) {
    ReaderConfig c;
    c.tags.count = 5;
    c.faults.garbageEvery = 2;
    c.faults.garbageLength = 7;
    c.faults.wrongTypeEvery = 3;
    c.faults.mergeCount = 4;
    start(c);
    host.call(idx, [](ReaderSim& r) { r.sendLiveReports(12); });
    const auto f = frames(12);
    ASSERT_EQ(f.size(), 12u);
    int wrong = 0;
    for (const auto& fr : f) wrong += u16(fr, 5) == 0x6041;
    EXPECT_EQ(wrong, 4);
    const SimStats s = host.reader(idx).stats();
    EXPECT_EQ(s.wrongTypeFramesSent, 4u);
    EXPECT_EQ(s.liveFramesSent, 8u);
    EXPECT_EQ(s.garbageBytesSent, 6u * 7);
    EXPECT_EQ(cutFrames(buf).skipped, 6 * 7); // garbage holds no start byte by default

    // One-byte writes: the frames still arrive whole and in order.
    buf.clear();
    FaultOptions one;
    one.split = SplitMode::OneByte;
    host.call(idx, [&](ReaderSim& r) {
        r.setFaults(one);
        r.sendLiveReports(3);
    });
    EXPECT_EQ(frames(3).size(), 3u);
    EXPECT_TRUE(cutFrames(buf).rest.isEmpty());
}

TEST_F(SimTcp, SilenceAndReset) {
    ReaderConfig c;
    c.rate = 100;
    start(c);
    ASSERT_GE(frames(3).size(), 3u);
    host.call(idx, [](ReaderSim& r) { r.setSilent(true); });
    SimHost::waitUntil([] { return false; }, 50); // let what was on the way arrive
    sock.readAll();
    buf.clear();
    sock.write(request(0x0003, 0));
    EXPECT_FALSE(readUntil(
        sock, buf, [](const QByteArray& b) { return !b.isEmpty(); }, 300));
    EXPECT_GE(host.reader(idx).receivedCount(0x0003), 1u); // still listening

    host.call(idx, [](ReaderSim& r) { r.resetConnection(); });
    EXPECT_TRUE(SimHost::waitUntil(
        [&] { return sock.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(sock.error(), QAbstractSocket::RemoteHostClosedError);

    // The listening reader takes a new connection.
    QTcpSocket again;
    again.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    ASSERT_TRUE(again.waitForConnected(5000));
    EXPECT_TRUE(host.waitForConnections(idx, 2, 5000));
}

TEST(SimTcpClient, ConnectsToTheUtilityAndReconnectsWhenAsked) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QHostAddress::LocalHost), 0));
    SimHost host;
    ReaderConfig c;
    c.readerId = 77;
    const int idx = host.addReader(c);
    host.connectTcp(idx, server.serverPort());
    ASSERT_TRUE(SimHost::waitUntil([&] { return server.hasPendingConnections(); }, 5000));
    QTcpSocket* s = server.nextPendingConnection();
    ASSERT_TRUE(host.waitForPeer(idx, true, 5000));
    host.call(idx, [](ReaderSim& r) { r.sendLiveReports(2); });
    QByteArray got;
    ASSERT_TRUE(readUntil(
        *s, got, [](const QByteArray& b) { return cutFrames(b).frames.size() >= 2; }, 5000));
    EXPECT_EQ(u16(cutFrames(got).frames[1], 7), 77);
    // A request from the utility's side is answered on the same connection.
    s->write(request(0x0005, 0));
    got.clear();
    ASSERT_TRUE(readUntil(
        *s, got, [](const QByteArray& b) { return !cutFrames(b).frames.empty(); }, 5000));
    EXPECT_EQ(u16(cutFrames(got).frames[0], 5), 0x0005);

    host.call(idx, [](ReaderSim& r) { r.reconnectTcp(); });
    EXPECT_TRUE(SimHost::waitUntil([&] { return server.hasPendingConnections(); }, 5000));
    EXPECT_TRUE(host.waitForConnections(idx, 2, 5000));
}

TEST(SimSameThread, WorksWithoutAThreadOfItsOwn) {
    SimHost host(false);
    const int idx = host.addReader();
    const quint16 port = host.listenTcp(idx);
    ASSERT_NE(port, 0);
    QTcpSocket s;
    s.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    ASSERT_TRUE(host.waitForPeer(idx, true, 5000));
    s.write(request(0x0003, 0));
    QByteArray got;
    EXPECT_TRUE(readUntil(
        s, got, [](const QByteArray& b) { return !cutFrames(b).frames.empty(); }, 5000));
    EXPECT_EQ(host.reader(idx).stats().answersSent, 1u);
}
