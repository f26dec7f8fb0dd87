// The publisher against a real broker: delivery, a broker that goes away and comes back, one
// that is never there, and one that wants a password.
#include "broker_fixture.h"
#include "publish/mqtt_publisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>

using namespace kelta;
using namespace kelta::publish;
using kelta::test::TestBroker;
using kelta::test::TestSubscriber;

namespace {

#define REQUIRE_BROKER()                                                                           \
    if (!kelta::test::brokerAvailable())                                                           \
    GTEST_SKIP() << kelta::test::kBrokerBinary << " is not installed (Debian package mosquitto)"

PublishConfig configFor(quint16 port, std::size_t bound = 10000) {
    PublishConfig c;
    c.enabled = true;
    c.host = QStringLiteral("127.0.0.1");
    c.port = port;
    c.site = QStringLiteral("north");
    c.clientId = QStringLiteral("kelta-test-pub-%1").arg(port);
    c.queueBound = bound;
    return c;
}

monitor::DecodedTagRecord recordNo(int i) {
    monitor::TagValues v;
    v.readerId = static_cast<std::uint16_t>(i % 3 + 1);
    for (int k = 0; k < 8; ++k)
        v.uid[7 - k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(i) >> (8 * k));
    v.rssi = static_cast<std::uint8_t>(100 + i % 50);
    v.lqi = static_cast<std::uint8_t>(i % 256);
    v.tagVersion = 0x10;
    v.packet = 0x11;
    v.model = 0x21;
    v.battery = static_cast<std::uint8_t>(30 + i % 10);
    v.dataShown = monitor::DataShown::Sensors;
    v.sensorCount = 2;
    v.sensors[0] = {monitor::SensorSlot::D1H, monitor::SensorKind::Temperature, 23.5f};
    v.sensors[1] = {monitor::SensorSlot::D2H, monitor::SensorKind::Humidity,
                    static_cast<float>(i % 100)};
    if (i % 2)
        v.gps = monitor::GpsFix{{121, 30, 15, 25, false}, {25, 2, 10, 50, i % 4 == 1}, 12, 3};
    monitor::DecodedTagRecord r;
    r.values = v;
    monitor::RenderTagTexts(v, r);
    return r;
}

TagMessage messageNo(int i) {
    return tagMessageFromRecord(recordNo(i), monitor::DecodeMode::Live,
                                LinkInfo{LinkType::Serial, QStringLiteral("COM3")},
                                QDateTime::currentDateTime());
}

// The record number carried by a received tag message (its UID), or -1.
int numberOf(const test::Received& m) {
    const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
    bool ok = false;
    const int n = o.value(QStringLiteral("uid")).toString().toInt(&ok, 16);
    return ok ? n : -1;
}

std::map<int, int> arrivals(const TestSubscriber& sub) {
    std::map<int, int> seen;
    for (const auto& m : sub.messages()) ++seen[numberOf(m)];
    return seen;
}

// Status messages as the publisher reported them.
struct StatusLog {
    mutable std::mutex mutex;
    std::vector<std::pair<BrokerState, std::string>> notes;
    explicit StatusLog(MqttPublisher& p) {
        p.setStatusCallback([this](BrokerState s, const std::string& text) {
            std::lock_guard lock(mutex);
            notes.emplace_back(s, text);
        });
    }
    int count(BrokerState s) const {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& note : notes) n += note.first == s;
        return n;
    }
    std::string all() const {
        std::lock_guard lock(mutex);
        std::string out;
        for (const auto& note : notes) out += note.second + "\n";
        return out;
    }
};

// Starts the broker and a subscriber to every topic the publisher uses; true once subscribed.
bool startedWithSubscriber(TestBroker& broker, std::unique_ptr<TestSubscriber>& sub) {
    if (!broker.start()) return false;
    sub = std::make_unique<TestSubscriber>(broker.port(), "kelta/#");
    return QTest::qWaitFor([&] { return sub->subscribed(); }, 10000);
}

// Takes the broker away; true once the publisher has lost its connection.
bool stoppedUnder(TestBroker& broker, const MqttPublisher& pub) {
    broker.stop();
    return QTest::qWaitFor([&] { return pub.state() != BrokerState::Connected; }, 10000);
}

} // namespace

TEST(PublisherBroker, EveryRecordArrivesOnceWithItsFields) {
    REQUIRE_BROKER();
    TestBroker broker;
    std::unique_ptr<TestSubscriber> sub;
    ASSERT_TRUE(startedWithSubscriber(broker, sub)) << broker.log().toStdString();

    MqttPublisher pub(configFor(broker.port()));
    ASSERT_TRUE(pub.start());
    constexpr int kRecords = 500;
    for (int i = 0; i < kRecords; ++i) ASSERT_TRUE(pub.publishTag(messageNo(i)));
    PresenceEvent gone{PresenceEvent::Kind::Absent,
                       QStringLiteral("0000000000000007"),
                       {},
                       "120",
                       "40",
                       QDateTime::currentDateTime().addSecs(-90),
                       QDateTime::currentDateTime(),
                       90000,
                       120,
                       40};
    ASSERT_TRUE(pub.publishEvent(gone));

    ASSERT_TRUE(QTest::qWaitFor([&] { return sub->count() >= kRecords + 1; }, 30000))
        << sub->count() << " of " << kRecords + 1;
    pub.stop(std::chrono::milliseconds(5000));
    const PublishCounters c = pub.counters();
    EXPECT_EQ(c.published, kRecords + 1u);
    EXPECT_EQ(c.acknowledged, kRecords + 1u);
    EXPECT_EQ(c.dropped, 0u);
    EXPECT_EQ(c.inFlight, 0u);

    std::set<int> seen;
    int events = 0;
    for (const auto& m : sub->messages()) {
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        if (m.topic == "kelta/north/event") {
            ++events;
            EXPECT_EQ(o.value("event").toString(), "absent");
            EXPECT_EQ(o.value("uid").toString(), "0000000000000007");
            EXPECT_EQ(o.value("values").toObject().value("rssi").toInt(), 120);
            continue;
        }
        const int n = numberOf(m);
        ASSERT_GE(n, 0) << m.payload.toStdString();
        EXPECT_TRUE(seen.insert(n).second) << "record " << n << " arrived twice";
        const monitor::DecodedTagRecord r = recordNo(n);
        EXPECT_EQ(m.topic, "kelta/north/reader/" + r.readerId + "/tag/" + r.uid);
        const QJsonObject f = o.value("fields").toObject();
        EXPECT_EQ(f.value("RSSI").toString().toStdString(), r.rssi);
        EXPECT_EQ(f.value("LQI").toString().toStdString(), r.lqi);
        EXPECT_EQ(f.value("Battery").toString().toStdString(), r.battery);
        EXPECT_EQ(o.value("sensors").toObject().value("D_2H").toString().toStdString(), r.d2h);
        EXPECT_EQ(o.value("link").toObject().value("port").toString(), "COM3");
        EXPECT_EQ(o.value("schema").toInt(), 1);
        const QJsonObject v = o.value("values").toObject();
        EXPECT_EQ(v.value("rssi").toInt(), r.values.rssi);
        EXPECT_EQ(v.value("sensors").toArray().size(), 2);
        EXPECT_EQ(v.contains("gps"), r.values.gps.has_value());
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kRecords));
    EXPECT_EQ(events, 1);
}

TEST(PublisherBroker, MessagesQueuedWhileTheBrokerIsDownArriveWhenItIsBack) {
    REQUIRE_BROKER();
    constexpr std::size_t kBound = 200;
    constexpr int kBefore = 50, kDuring = 260; // 60 beyond the bound
    TestBroker broker;
    std::unique_ptr<TestSubscriber> sub;
    ASSERT_TRUE(startedWithSubscriber(broker, sub)) << broker.log().toStdString();

    MqttPublisher pub(configFor(broker.port(), kBound));
    StatusLog status(pub);
    ASSERT_TRUE(pub.start());
    for (int i = 0; i < kBefore; ++i) pub.publishTag(messageNo(i));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sub->count() == kBefore; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pub.counters().inFlight == 0; }, 5000));

    ASSERT_TRUE(stoppedUnder(broker, pub));
    for (int i = kBefore; i < kBefore + kDuring; ++i) ASSERT_TRUE(pub.publishTag(messageNo(i)));
    PublishCounters c = pub.counters();
    EXPECT_EQ(c.queued, kBound);
    EXPECT_EQ(c.dropped, static_cast<std::uint64_t>(kDuring - static_cast<int>(kBound)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.count(BrokerState::Unreachable) == 1; }, 15000))
        << status.all();

    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    const int expected = kBefore + static_cast<int>(kBound);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return arrivals(*sub).size() >= static_cast<std::size_t>(expected); }, 60000))
        << arrivals(*sub).size() << " of " << expected << "\n"
        << status.all();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pub.counters().acknowledged == c.enqueued - c.dropped; }, 10000));

    // The oldest of the outage were dropped, every other message arrived. Those of the outage
    // arrive exactly once; one delivered just before the broker went may come to the
    // subscriber a second time when the broker had not yet taken its acknowledgement.
    const std::map<int, int> seen = arrivals(*sub);
    const int firstKept = kBefore + kDuring - static_cast<int>(kBound);
    for (int i = 0; i < kBefore + kDuring; ++i) {
        const auto it = seen.find(i);
        const int times = it == seen.end() ? 0 : it->second;
        if (i < kBefore) {
            EXPECT_TRUE(times == 1 || times == 2) << "record " << i << ": " << times;
        } else {
            EXPECT_EQ(times, i >= firstKept ? 1 : 0) << "record " << i;
        }
    }
    EXPECT_EQ(status.count(BrokerState::Unreachable), 1) << status.all();
    EXPECT_GE(status.count(BrokerState::Connected), 2) << status.all();
    pub.stop();
    sub.reset();
}

TEST(PublisherBroker, UnreachableBrokerGivesOneMessageAndKeepsTheNewest) {
    REQUIRE_BROKER();
    const quint16 port = test::freeLoopbackPort();
    constexpr std::size_t kBound = 50;
    MqttPublisher pub(configFor(port, kBound));
    StatusLog status(pub);
    pub.setUnreachableAfter(std::chrono::milliseconds(300));
    ASSERT_TRUE(pub.start());
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(pub.publishTag(messageNo(i)));
    EXPECT_EQ(pub.counters().queued, kBound);
    EXPECT_EQ(pub.counters().dropped, 300u - kBound);

    // Several attempts (after 1 s and 2 s more), still one message.
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.count(BrokerState::Unreachable) == 1; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pub.failedAttempts() >= 3; }, 10000));
    EXPECT_EQ(status.count(BrokerState::Unreachable), 1) << status.all();
    EXPECT_NE(status.all().find("cannot be reached"), std::string::npos) << status.all();
    EXPECT_NE(status.all().find(pub.brokerName()), std::string::npos) << status.all();

    pub.stop();
    EXPECT_EQ(pub.counters().published, 0u);
    EXPECT_EQ(pub.state(), BrokerState::Stopped);
}

TEST(PublisherBroker, BrokerThatAppearsLateGetsTheKeptMessages) {
    REQUIRE_BROKER();
    TestBroker broker;
    std::unique_ptr<TestSubscriber> sub;
    ASSERT_TRUE(startedWithSubscriber(broker, sub)) << broker.log().toStdString();
    broker.stop();

    constexpr std::size_t kBound = 40;
    MqttPublisher pub(configFor(broker.port(), kBound));
    ASSERT_TRUE(pub.start());
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(pub.publishTag(messageNo(i)));
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sub->count() >= kBound; }, 60000)) << sub->count();
    pub.stop(std::chrono::milliseconds(5000));
    const std::map<int, int> seen = arrivals(*sub);
    ASSERT_EQ(seen.size(), kBound);
    EXPECT_EQ(seen.begin()->first, 100 - static_cast<int>(kBound));
    for (const auto& [n, times] : seen) EXPECT_EQ(times, 1) << "record " << n;
}

TEST(PublisherBroker, LoginIsUsedAndAWrongPasswordIsReportedOnce) {
    REQUIRE_BROKER();
    TestBroker broker;
    broker.requireLogin(QStringLiteral("reader"), QStringLiteral("s3cret pass"));
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();

    struct Case {
        const char* password;
        bool delivered;
    };
    for (const Case& k : {Case{"s3cret pass", true}, Case{"wrong", false}}) {
        SCOPED_TRACE(k.password);
        PublishConfig c = configFor(broker.port());
        c.userName = QStringLiteral("reader");
        c.password = QString::fromUtf8(k.password);
        c.clientId += QString::fromUtf8(k.password).left(3);
        MqttPublisher pub(c);
        StatusLog status(pub);
        ASSERT_TRUE(pub.start());
        for (int i = 0; i < 10; ++i) pub.publishTag(messageNo(i));
        if (k.delivered) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return pub.counters().acknowledged == 10; }, 20000))
                << status.all();
            EXPECT_EQ(status.count(BrokerState::Refused), 0) << status.all();
        } else {
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return status.count(BrokerState::Refused) == 1; }, 10000))
                << status.all();
            // Let it try again (after 1 s, then 2 s): still one message, nothing sent.
            ASSERT_TRUE(QTest::qWaitFor([&] { return pub.counters().refusals >= 3; }, 15000));
            EXPECT_EQ(status.count(BrokerState::Refused), 1) << status.all();
            EXPECT_EQ(status.count(BrokerState::Unreachable), 0) << status.all();
            EXPECT_EQ(pub.counters().acknowledged, 0u);
            EXPECT_EQ(pub.counters().queued, 10u);
        }
        pub.stop();
    }
}

TEST(PublisherBroker, MessagesInFlightWhenTheBrokerStopsAreNotLost) {
    REQUIRE_BROKER();
    TestBroker broker;
    std::unique_ptr<TestSubscriber> sub;
    ASSERT_TRUE(startedWithSubscriber(broker, sub)) << broker.log().toStdString();

    MqttPublisher pub(configFor(broker.port()));
    ASSERT_TRUE(pub.start());
    constexpr int kRecords = 3000;
    int next = 0;
    // The broker goes while messages stream: some are on the wire, unacknowledged.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int k = 0; k < 50 && next < kRecords; ++k) pub.publishTag(messageNo(next++));
            return pub.counters().acknowledged >= 300 || next == kRecords;
        },
        20000));
    broker.stop();
    while (next < kRecords) pub.publishTag(messageNo(next++));
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const PublishCounters c = pub.counters();
            return c.queued == 0 && c.inFlight == 0 && c.acknowledged >= c.published;
        },
        60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return arrivals(*sub).size() == kRecords; }, 30000))
        << arrivals(*sub).size() << " of " << kRecords;
    EXPECT_EQ(pub.counters().dropped, 0u);
    // At least once: a message on the wire when the broker went may come twice, no more.
    std::size_t twice = 0;
    for (const auto& [n, times] : arrivals(*sub)) {
        EXPECT_LE(times, 2) << "record " << n;
        twice += times > 1;
    }
    EXPECT_LE(twice, MqttPublisher::kInFlightWindow);
    pub.stop();
}

TEST(PublisherBroker, StoppingWhileTheBrokerIsAwayKeepsTheCount) {
    REQUIRE_BROKER();
    TestBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttPublisher pub(configFor(broker.port(), 100));
    ASSERT_TRUE(pub.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return pub.state() == BrokerState::Connected; }, 10000));
    ASSERT_TRUE(stoppedUnder(broker, pub));
    for (int i = 0; i < 30; ++i) pub.publishTag(messageNo(i));
    // Ends although the network thread is between two reconnection attempts.
    pub.stop(std::chrono::milliseconds(200));
    EXPECT_EQ(pub.state(), BrokerState::Stopped);
    EXPECT_EQ(pub.counters().queued, 30u);
    EXPECT_EQ(pub.counters().published, 0u);
    EXPECT_FALSE(pub.publishTag(messageNo(99))); // refused once stopped
}

TEST(PublisherBroker, PublishingOffDoesNotStart) {
    PublishConfig c = configFor(1883);
    c.enabled = false;
    MqttPublisher pub(c);
    StatusLog status(pub);
    EXPECT_FALSE(pub.start());
    EXPECT_FALSE(pub.publishTag(messageNo(1)));
    EXPECT_EQ(pub.state(), BrokerState::Stopped);
    EXPECT_EQ(status.count(BrokerState::Stopped), 1);
}

TEST(PublisherBroker, UnreadableTlsFilesAreReportedAtStart) {
    PublishConfig c = configFor(test::freeLoopbackPort());
    c.caFile = QStringLiteral("/nonexistent/ca.pem");
    MqttPublisher pub(c);
    StatusLog status(pub);
    EXPECT_FALSE(pub.start());
    EXPECT_NE(status.all().find("TLS"), std::string::npos) << status.all();
    EXPECT_FALSE(pub.publishTag(messageNo(1)));
}

TEST(PublisherBroker, TlsWithAndWithoutAClientCertificate) {
    REQUIRE_BROKER();
    QTemporaryDir certDir;
    test::TestCertificates certs;
    if (!certDir.isValid() || !test::makeTestCertificates(certDir.path(), certs))
        GTEST_SKIP() << "the openssl program is missing or failed; no certificates to test with";
    TestBroker broker;
    broker.useTls(certs.serverCert, certs.serverKey, certs.ca);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();

    struct Case {
        const char* name;
        bool clientCert;
        bool delivered;
    };
    for (const Case& k : {Case{"with client certificate", true, true},
                          Case{"without client certificate", false, false}}) {
        SCOPED_TRACE(k.name);
        PublishConfig c = configFor(broker.port());
        c.clientId += k.clientCert ? QStringLiteral("-c") : QStringLiteral("-n");
        c.caFile = certs.ca;
        if (k.clientCert) {
            c.certFile = certs.clientCert;
            c.keyFile = certs.clientKey;
        }
        ASSERT_TRUE(validatePublishConfig(c).isEmpty());
        MqttPublisher pub(c);
        StatusLog status(pub);
        pub.setUnreachableAfter(std::chrono::milliseconds(500));
        ASSERT_TRUE(pub.start()) << status.all();
        for (int i = 0; i < 10; ++i) pub.publishTag(messageNo(i));
        if (k.delivered) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return pub.counters().acknowledged == 10; }, 20000))
                << status.all() << broker.log().toStdString();
        } else {
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return status.count(BrokerState::Unreachable) == 1; }, 10000))
                << status.all();
            EXPECT_EQ(pub.counters().acknowledged, 0u);
            EXPECT_EQ(pub.counters().queued, 10u);
        }
        pub.stop();
    }
}

TEST(PublisherBroker, PublishingResumesAfterATlsFailure) {
    REQUIRE_BROKER();
    QTemporaryDir certDir;
    test::TestCertificates certs;
    if (!certDir.isValid() || !test::makeTestCertificates(certDir.path(), certs))
        GTEST_SKIP() << "the openssl program is missing or failed; no certificates to test with";
    TestBroker broker;
    broker.useTls(certs.serverCert, certs.serverKey, certs.ca); // wants a client certificate
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();

    PublishConfig c = configFor(broker.port());
    c.caFile = certs.ca; // but none is given
    MqttPublisher pub(c);
    StatusLog status(pub);
    pub.setUnreachableAfter(std::chrono::milliseconds(300));
    ASSERT_TRUE(pub.start());
    for (int i = 0; i < 10; ++i) pub.publishTag(messageNo(i));
    // Handshakes keep failing and keep being retried.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pub.failedAttempts() >= 2; }, 10000));
    EXPECT_EQ(status.count(BrokerState::Unreachable), 1) << status.all();

    // The broker is set right: the kept messages go.
    broker.stop();
    broker.useTls(certs.serverCert, certs.serverKey, QString());
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return pub.counters().acknowledged == 10; }, 40000))
        << status.all();
    EXPECT_EQ(status.count(BrokerState::Connected), 1) << status.all();
    pub.stop();
}
