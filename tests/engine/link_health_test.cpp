// What the engine counts per link, against what the simulated readers sent: records, frames
// rejected (wrong-type frames and answers sent on purpose), bytes skipped as noise, readers
// heard and the per-second counts, for every kind of link, steady and across a drop and its
// recovery; the snapshot taken at the end of the run; and the text table made of it.

#include "engine/engine_fixture.h"

#include <QRegularExpression>
#include <numeric>

namespace {

using kelta::monitor::LinkHealth;
using kelta::monitor::MonitorEvents;
using kelta::monitor::RunConfig;
using kelta::monitor::SecondRing;
using kelta::sim::ReaderConfig;
using kelta::sim::ReaderSim;
using kelta::sim::SimStats;
using kelta::test::freePort;

// The per-second ring on its own: which seconds survive a gap, and that the second still
// going is not shown.
TEST(SecondRingTest, KeepsTheLastSixtyWholeSeconds) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> bumps;
        std::int64_t now;
        std::vector<std::pair<int, std::uint32_t>> expected; // index (59: second now - 1), count
    };
    const Case cases[] = {
        {"two seconds", {100, 100, 101}, 102, {{58, 2}, {59, 1}}},
        {"the current second is not whole yet", {100, 101, 101}, 101, {{59, 1}}},
        {"the oldest second kept", {100, 159}, 160, {{0, 1}, {59, 1}}},
        {"a gap of a minute forgets", {100, 100, 160}, 161, {{59, 1}}},
        {"seconds skipped read as none", {100, 130}, 140, {{20, 1}, {50, 1}}},
        {"nothing for a minute", {100, 100}, 161, {}},
        {"an earlier second counts in the newest", {100, 99}, 101, {{59, 2}}},
        {"nothing counted", {}, 5, {}},
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

TEST(LinkHealthTableTest, OneAlignedLinePerLinkWithStateAgeAndSilence) {
    const QDateTime now = QDateTime::currentDateTime();
    LinkHealth fresh;
    fresh.name = QStringLiteral("COM3");
    fresh.readerIds = {QStringLiteral("0007"), QStringLiteral("0008")};
    fresh.records = 1234;
    fresh.framesRejected = 5;
    fresh.bytesDiscarded = 17;
    fresh.lastReport = now.addMSecs(-2500);
    fresh.since = now.addSecs(-100);
    fresh.lastMinute.back() = 42;
    LinkHealth waiting;
    waiting.name = QStringLiteral("192.0.2.1:4001");
    waiting.state = LinkHealth::State::Reconnecting;
    waiting.nextAttempt = now.addMSecs(3200);
    waiting.since = now.addSecs(-100);
    waiting.lastReport = now.addSecs(-40);
    LinkHealth taken;
    taken.name = QStringLiteral(":4001");
    taken.state = LinkHealth::State::PortInUse;

    const QStringList lines = kelta::monitor::linkHealthTable({fresh, waiting, taken}, now)
                                  .split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression gap(QStringLiteral("\\s{2,}"));
    EXPECT_EQ(lines[0].split(gap), (QStringList{"Link", "Readers", "State", "Records", "Per s",
                                                "Rejected", "Discarded", "Last report"}));
    EXPECT_EQ(lines[1].split(gap),
              (QStringList{"COM3", "0007,0008", "open", "1234", "42", "5", "17", "2 s"}));
    // Rounded up to whole seconds; silent past the watchdog.
    EXPECT_EQ(lines[2].split(gap), (QStringList{"192.0.2.1:4001", "-", "reconnecting in 4 s", "0",
                                                "0", "0", "0", "40 s silent"}));
    // A port never had is not called silent.
    EXPECT_EQ(lines[3].split(gap),
              (QStringList{":4001", "-", "port in use", "0", "0", "0", "0", "-"}));
    EXPECT_EQ(kelta::monitor::linkHealthTable({}, now), QStringLiteral("(no links)\n"));
}

struct Recorder : MonitorEvents {};

class LinkCountersTest : public kelta::test::EngineFixture<Recorder> {
protected:
    // What the run's only link is expected to have counted from what its reader sent since
    // `base`.
    struct Expected {
        std::uint64_t records = 0;
        std::uint64_t rejected = 0;
        std::uint64_t discarded = 0;
    };
    static Expected sentSince(const SimStats& now, const SimStats& base, bool countNoise) {
        Expected e;
        e.records = now.liveFramesSent - base.liveFramesSent;
        // Wrong-type reports and the reader's answers to the run's frames give no record.
        e.rejected = (now.wrongTypeFramesSent - base.wrongTypeFramesSent) +
                     (now.answersSent - base.answersSent) +
                     (now.wrongCodeAnswersSent - base.wrongCodeAnswersSent);
        e.discarded = countNoise ? now.garbageBytesSent - base.garbageBytesSent : 0;
        return e;
    }
    static bool matches(const LinkHealth& h, const Expected& e) {
        return h.records == e.records && h.framesRejected == e.rejected &&
               h.bytesDiscarded == e.discarded;
    }
    static std::uint64_t minuteSum(const LinkHealth& h) {
        return std::accumulate(h.lastMinute.begin(), h.lastMinute.end(), std::uint64_t{0});
    }
};

// Known traffic on each kind of link, steady or with a drop in the middle: the link's counters
// equal what its reader sent (since it connected, for a listening reader, which comes back as
// a new link), the per-second counts add up to the records once their seconds are whole, and
// the snapshot at the end of the run holds the same.
TEST_F(LinkCountersTest, CountersEqualWhatTheReaderSentOnEveryKindOfLink) {
    struct Case {
        const char* name;
        int linkMode;
        bool drop;
    };
    const Case cases[] = {
        {"serial", RunConfig::kSerial, false},
        {"serial, the device hangs up and comes back", RunConfig::kSerial, true},
        {"outgoing", RunConfig::kOutgoingTcp, false},
        {"outgoing, the reader resets the connection", RunConfig::kOutgoingTcp, true},
        {"listening", RunConfig::kListeningTcp, false},
        {"listening, the reader hangs up and connects again", RunConfig::kListeningTcp, true},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ++n;
        const bool tcp = k.linkMode != RunConfig::kSerial;
        ReaderConfig rc;
        rc.readerId = static_cast<std::uint16_t>(60 + n);
        rc.rate = 120;
        rc.seed = static_cast<std::uint32_t>(n);
        rc.tags.count = 5;
        rc.faults.wrongTypeEvery = 4;
        // Noise between frames: bytes the TCP links skip (a serial line counts floods only).
        if (tcp) rc.faults.garbageEvery = 3;
        const int reader = host.addReader(rc);
        ReaderSim& sim = host.reader(reader);
        RunConfig c = config(k.linkMode);
        c.autoSave = false;
        const int com = 12 + n;
        if (k.linkMode == RunConfig::kSerial) {
            ASSERT_TRUE(host.openPty(reader, com));
            c.serialPorts[static_cast<std::size_t>(com)] = true;
        } else if (k.linkMode == RunConfig::kOutgoingTcp) {
            const quint16 port = host.listenTcp(reader, 0, QStringLiteral("127.0.0.1"));
            ASSERT_NE(port, 0);
            c.addresses[3] = QStringLiteral("127.0.0.1");
            c.addressChecked[3] = true;
            c.remotePort = port;
        } else {
            c.listenPort = freePort();
            host.connectTcp(reader, static_cast<quint16>(c.listenPort), 50);
        }
        const auto silence = [&](bool on) {
            host.call(reader, [on](ReaderSim& r) { r.setSilent(on); });
        };
        silence(true);

        enum Phase { Flowing, CatchingUp, Dropped, Recovered, Settling };
        Phase phase = Flowing;
        SimStats base{}; // what was sent before the link the counts start with
        QString firstName;
        QSet<int> statesSeen;
        std::uint64_t recordsAtRecovery = 0;
        bool started = false;
        LinkHealth last;
        const bool finished = runUntil(c, [&] {
            const auto links = engine.linkHealth();
            // A listening reader that hung up stays listed (lost) until it is back.
            if (links.size() != 1) {
                ADD_FAILURE() << links.size() << " links";
                return true;
            }
            last = links.front();
            statesSeen.insert(static_cast<int>(last.state));
            if (firstName.isEmpty()) firstName = last.name;
            const SimStats sent = sim.stats();
            switch (phase) {
            case Flowing:
                // The reader speaks once the run receives: a serial run purges what came
                // before (at the port's opening and with the announcement).
                if (!started) {
                    started = true;
                    base = sent;
                    silence(false);
                }
                if (last.records >= 40 && last.framesRejected >= 5) {
                    silence(true);
                    phase = CatchingUp;
                }
                return false;
            case CatchingUp:
                // Nothing is on its way any more: the link has all the reader sent.
                if (!matches(last, sentSince(sent, base, tcp))) return false;
                if (!k.drop) {
                    phase = Settling;
                    return false;
                }
                statesSeen.clear();
                if (k.linkMode == RunConfig::kSerial)
                    host.call(reader, [](ReaderSim& r) { r.reopenPty(); });
                else
                    host.call(reader, [](ReaderSim& r) { r.resetConnection(); });
                phase = Dropped;
                return false;
            case Dropped:
                if (last.state != LinkHealth::State::Open) return false;
                if (k.linkMode == RunConfig::kListeningTcp) {
                    if (last.name == firstName) return false;
                    // A reader that connects again is a new link, counting from its connection.
                    base = sent;
                } else if (k.linkMode == RunConfig::kSerial) {
                    // The port may follow its map entry to the new device at once, never
                    // showing lost.
                    if (engine.serialLinks().reopenCount(com) == 0) return false;
                } else if (statesSeen.size() < 2) {
                    return false;
                }
                recordsAtRecovery = last.records;
                silence(false);
                phase = Recovered;
                return false;
            case Recovered:
                if (last.records < recordsAtRecovery + 40) return false;
                silence(true);
                phase = Settling;
                return false;
            case Settling:
                // Every second of the run is whole: the minute holds every record.
                return matches(last, sentSince(sent, base, tcp)) && minuteSum(last) == last.records;
            }
            return false;
        });
        host.stopReader(reader);
        const Expected want = sentSince(sim.stats(), base, tcp);
        ASSERT_TRUE(finished) << "phase " << phase << ": records " << last.records << "/"
                              << want.records << ", rejected " << last.framesRejected << "/"
                              << want.rejected << ", discarded " << last.bytesDiscarded << "/"
                              << want.discarded << ", state " << static_cast<int>(last.state)
                              << ", states seen " << statesSeen.size() << ", "
                              << last.name.toStdString();
        EXPECT_EQ(last.readerIds,
                  QStringList{QStringLiteral("%1").arg(rc.readerId, 4, 10, QChar('0'))});
        EXPECT_TRUE(last.lastReport.isValid());
        if (tcp) {
            EXPECT_GT(want.discarded, 0u);
        }
        if (k.drop && k.linkMode == RunConfig::kSerial) {
            EXPECT_EQ(engine.serialLinks().lostCount(com), 1);
            EXPECT_EQ(engine.serialLinks().reopenCount(com), 1);
        } else if (k.drop) {
            // Lost (or waiting for the next attempt) and open again.
            const int notOpen = k.linkMode == RunConfig::kOutgoingTcp
                                    ? static_cast<int>(LinkHealth::State::Reconnecting)
                                    : static_cast<int>(LinkHealth::State::Lost);
            EXPECT_TRUE(statesSeen.contains(notOpen));
            EXPECT_TRUE(statesSeen.contains(static_cast<int>(LinkHealth::State::Open)));
        }

        // The end of the run: the links are closed, the snapshot taken before holds the counts.
        EXPECT_TRUE(engine.linkHealth().empty());
        const auto& ended = engine.endedLinkHealth();
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_EQ(ended.front().name, last.name);
        EXPECT_TRUE(matches(ended.front(), want));
        EXPECT_EQ(ended.front().state, LinkHealth::State::Open);
    }
}

} // namespace
