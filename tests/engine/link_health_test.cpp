// What the engine counts per link against what a simulated reader sent, on every kind of link
// and across a drop and its recovery; the per-second ring; the links' text table.

#include "engine/engine_fixture.h"

#include <QRegularExpression>
#include <numeric>

namespace {

using kelta::monitor::LinkHealth;
using kelta::monitor::RunConfig;
using kelta::monitor::SecondRing;
using kelta::sim::ReaderSim;
using kelta::sim::SimStats;

TEST(SecondRingTest, KeepsTheLastSixtyWholeSeconds) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> bumps;
        std::int64_t now;
        std::vector<std::pair<int, std::uint32_t>> expected; // index (59: second now - 1), count
    } const cases[] = {
        {"two seconds", {100, 100, 101}, 102, {{58, 2}, {59, 1}}},
        {"the current second is not whole yet", {100, 101, 101}, 101, {{59, 1}}},
        {"the oldest second kept", {100, 159}, 160, {{0, 1}, {59, 1}}},
        {"a gap of a minute forgets", {100, 100, 160}, 161, {{59, 1}}},
        {"seconds skipped read as none", {100, 130}, 140, {{20, 1}, {50, 1}}},
        {"nothing for a minute", {100, 100}, 161, {}},
        {"an earlier second counts in the newest", {100, 99}, 101, {{59, 2}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SecondRing ring;
        for (const std::int64_t s : k.bumps) ring.bump(s);
        std::array<std::uint32_t, SecondRing::kSeconds> want{};
        for (const auto& [i, n] : k.expected) want[static_cast<std::size_t>(i)] = n;
        EXPECT_EQ(ring.lastMinute(k.now), want);
    }
}

// State and age cells: seconds to the next attempt rounded up, "silent" past the watchdog,
// never for a port that could not be had.
TEST(LinkHealthTableTest, StateAndAgeCells) {
    const QDateTime now = QDateTime::currentDateTime();
    LinkHealth open, waiting, taken;
    open.name = "COM3";
    open.readerIds = QStringList{"0007", "0008"};
    open.records = 1234;
    open.lastReport = now.addMSecs(-2500);
    waiting.name = "192.0.2.1:4001";
    waiting.state = LinkHealth::State::Reconnecting;
    waiting.nextAttempt = now.addMSecs(3200);
    waiting.since = now.addSecs(-40);
    taken.name = ":4001";
    taken.state = LinkHealth::State::PortInUse;
    taken.since = now.addSecs(-40);
    const QStringList lines = kelta::monitor::linkHealthTable({open, waiting, taken}, now)
                                  .split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression gap("\\s{2,}");
    EXPECT_EQ(lines[1].split(gap),
              (QStringList{"COM3", "0007,0008", "open", "1234", "0", "0", "0", "2 s"}));
    EXPECT_EQ(lines[2].split(gap).mid(2),
              (QStringList{"reconnecting in 4 s", "0", "0", "0", "0", "- silent"}));
    EXPECT_EQ(lines[3].split(gap).mid(2), (QStringList{"port in use", "0", "0", "0", "0", "-"}));
}

struct Recorder : kelta::monitor::MonitorEvents {};
using LinkCountersTest = kelta::test::EngineFixture<Recorder>;

// Known traffic with wrong-type frames (and noise on TCP) before and after a drop: the link's
// counters equal what its reader sent (since it connected again, for a listening reader, a new
// link then), the minute's counts add up to the records, and the snapshot taken at the end of
// the run holds the same.
TEST_F(LinkCountersTest, CountersEqualWhatTheReaderSentAcrossADrop) {
    for (const int mode : {RunConfig::kSerial, RunConfig::kOutgoingTcp, RunConfig::kListeningTcp}) {
        SCOPED_TRACE(mode);
        const bool tcp = mode != RunConfig::kSerial;
        kelta::sim::ReaderConfig rc;
        rc.readerId = static_cast<std::uint16_t>(60 + mode);
        rc.rate = 120;
        rc.faults.wrongTypeEvery = 4;
        if (tcp) rc.faults.garbageEvery = 3; // a serial line counts floods only
        const int reader = host.addReader(rc);
        ReaderSim& sim = host.reader(reader);
        const auto silence = [&](bool on) {
            host.call(reader, [on](ReaderSim& r) { r.setSilent(on); });
        };
        // The reader speaks once the run receives: a serial run purges what came before.
        silence(true);
        RunConfig c = config(mode);
        const int com = 14 + mode;
        if (mode == RunConfig::kSerial) {
            ASSERT_TRUE(host.openPty(reader, com));
            c.serialPorts[static_cast<std::size_t>(com)] = true;
        } else if (mode == RunConfig::kOutgoingTcp) {
            c.remotePort = host.listenTcp(reader, 0, "127.0.0.1");
            c.addresses[3] = "127.0.0.1";
            c.addressChecked[3] = true;
        } else {
            c.listenPort = kelta::test::freePort();
            host.connectTcp(reader, static_cast<quint16>(c.listenPort), 50);
        }
        SimStats base{};
        const auto sentMatches = [&](const LinkHealth& h) {
            const SimStats s = sim.stats();
            // Wrong-type reports and the reader's answers give no record.
            return h.records == s.liveFramesSent - base.liveFramesSent &&
                   h.framesRejected == s.wrongTypeFramesSent + s.answersSent -
                                           base.wrongTypeFramesSent - base.answersSent &&
                   h.bytesDiscarded == (tcp ? s.garbageBytesSent - base.garbageBytesSent : 0);
        };
        int phase = 0;
        QString firstName;
        std::uint64_t target = 40;
        QSet<int> states;
        LinkHealth last;
        ASSERT_TRUE(runUntil(
            c,
            [&] {
                const auto links = engine.linkHealth();
                EXPECT_EQ(links.size(), 1u); // a listening reader that hung up stays as lost
                if (links.size() != 1) return true;
                last = links.front();
                states.insert(static_cast<int>(last.state));
                if (firstName.isEmpty()) firstName = last.name;
                // 0 start, 1 flowing, 2 silent until counted, 3 dropped, 4 flowing, 5 counted.
                if (phase == 0 || ((phase == 1 || phase == 4) && last.records >= target)) {
                    silence(phase != 0);
                    ++phase;
                }
                if ((phase == 2 || phase == 5) && !sentMatches(last)) return false;
                if (phase == 2) {
                    // Everything sent has been counted: the line drops.
                    states.clear();
                    host.call(reader, [tcp](ReaderSim& r) {
                        if (tcp)
                            r.resetConnection();
                        else
                            r.reopenPty();
                    });
                    phase = 3;
                } else if (phase == 3 && last.state == LinkHealth::State::Open &&
                           (mode == RunConfig::kSerial ? engine.serialLinks().reopenCount(com) > 0
                            : mode == RunConfig::kListeningTcp ? last.name != firstName
                                                               : states.size() > 1)) {
                    if (mode == RunConfig::kListeningTcp) base = sim.stats();
                    target = last.records + 40;
                    silence(false);
                    phase = 4;
                }
                // Every second of the run whole: the minute holds every record.
                return phase == 5 && std::accumulate(last.lastMinute.begin(), last.lastMinute.end(),
                                                     std::uint64_t{0}) == last.records;
            }))
            << "phase " << phase << ": " << last.records << " records, " << last.framesRejected
            << " rejected, " << last.bytesDiscarded << " discarded";
        host.stopReader(reader);
        EXPECT_EQ(last.readerIds, QStringList{QString("%1").arg(rc.readerId, 4, 10, QChar('0'))});
        if (tcp) {
            EXPECT_GT(last.bytesDiscarded, 0u);
        }
        // Between the drop and the recovery (a serial port may follow its entry at once).
        if (tcp) {
            EXPECT_TRUE(states.contains(static_cast<int>(mode == RunConfig::kOutgoingTcp
                                                             ? LinkHealth::State::Reconnecting
                                                             : LinkHealth::State::Lost)));
        }
        // After the end the links are closed; the snapshot from before holds the counts.
        EXPECT_TRUE(engine.linkHealth().empty());
        ASSERT_EQ(engine.endedLinkHealth().size(), 1u);
        EXPECT_EQ(engine.endedLinkHealth().front().name, last.name);
        EXPECT_EQ(engine.endedLinkHealth().front().state, LinkHealth::State::Open);
        EXPECT_TRUE(sentMatches(engine.endedLinkHealth().front()));
    }
}

} // namespace
