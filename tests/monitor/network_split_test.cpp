// Frames cut at random places and merged several to a write reach the tag tables exactly
// once, on outgoing connections and on the listening server.

#include "network_fixture.h"

namespace nettest {
namespace {

// Reader n of three: frames cut at random with gaps longer than a loop pass (so reads end
// inside frames), frames three to a write, and short random cuts. The simulator applies
// either cuts or merging to a reader, not both.
ReaderConfig faultyReader(int n) {
    ReaderConfig c;
    c.readerId = static_cast<std::uint16_t>(n);
    c.seed = static_cast<std::uint32_t>(n);
    c.tags.count = 4;
    c.rate = n == 2 ? 60 : 10;
    if (n == 2) {
        c.faults.mergeCount = 3;
    } else {
        c.faults.split = kelta::sim::SplitMode::RandomCuts;
        c.faults.splitGapMs = n == 1 ? 25 : 4;
    }
    return c;
}

class SplitTest : public NetTest {
protected:
    // Lets the readers send a number of frames, stops them, waits until nothing is left in
    // them and the utility took every frame; then every UID's count must equal what the
    // readers sent of it.
    void runAndCompare(const std::vector<int>& readers, const std::function<void()>& begin) {
        bool begun = false;
        bool quiet = false;
        quint64 sent = 0;
        auto sentNow = [&] {
            quint64 n = 0;
            for (int r : readers) n += host.reader(r).stats().liveFramesSent;
            return n;
        };
        const auto res = run([&] {
            if (!begun) {
                begin();
                begun = true;
                return false;
            }
            if (!quiet) {
                if (sentNow() < 90) return false;
                for (int r : readers) host.call(r, [](ReaderSim& s) { s.setRate(0); });
                quiet = true;
            }
            for (int r : readers) {
                bool holds = false;
                host.call(r, [&](ReaderSim& s) { holds = s.holdsUnsent(); });
                if (holds) return false;
            }
            sent = sentNow();
            return tables->acceptedRecordCount() == sent;
        });
        ASSERT_TRUE(res.stopAsked) << tables->acceptedRecordCount() << " of " << sent;
        EXPECT_GT(sent, 60u);

        std::map<std::string, quint64> expected;
        for (int r : readers)
            for (const auto& [uid, n] : host.reader(r).sentPerUid()) expected[uid] += n;
        EXPECT_EQ(gridCounts(), expected);
        EXPECT_EQ(tables->acceptedRecordCount(), sent);
    }
};

TEST_F(SplitTest, OutgoingConnectionsDeliverEveryFrameOnce) {
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    std::vector<int> readers;
    for (int row = 1; row <= 3; ++row) {
        readers.push_back(addListeningReader(row + 10, port, faultyReader(row)));
    }
    w().pcTagMain->setActivePage(w().tsNET);
    runAndCompare(readers, [] {});
    // Nothing half-read is left behind once the connections are gone.
    for (int k = 0; k <= 32; ++k) EXPECT_EQ(net().carriedOutgoing(k), 0u);
}

TEST_F(SplitTest, TheListeningServerDeliversEveryFrameOnce) {
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    w().edtListenPort->setText(QString::number(port));
    w().pcTagMain->setActivePage(w().tsNetServer);
    std::vector<int> readers;
    for (int n = 1; n <= 3; ++n) {
        readers.push_back(host.addReader(faultyReader(n)));
    }
    runAndCompare(readers, [&] {
        for (int n = 0; n < 3; ++n)
            EXPECT_TRUE(
                host.connectTcpFrom(readers[static_cast<std::size_t>(n)], loopback(n + 20), port));
    });
    for (int k = 0; k <= 64; ++k) EXPECT_EQ(net().carriedAccepted(k), 0u);
}

TEST_F(SplitTest, AFrameOfAnotherTypeFirstInAReadIsDroppedAlone) {
    // Three frames to a write and every fourth of another type: every other write begins
    // with the foreign frame; the reports written with it must still arrive.
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    ReaderConfig c = faultyReader(2);
    c.faults.wrongTypeEvery = 4;
    const int reader = addListeningReader(15, port, c);
    w().pcTagMain->setActivePage(w().tsNET);
    runAndCompare({reader}, [] {});
    EXPECT_GT(host.reader(reader).stats().wrongTypeFramesSent, 5u);
}

} // namespace
} // namespace nettest
