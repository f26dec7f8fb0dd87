// Publishing speed: messages per second from the publisher through a private broker (started
// on a free loopback port) to a subscriber at QoS 1, next to building the messages alone.
#include "publish/broker_fixture.h"
#include "publish/mqtt_publisher.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <mosquitto.h>

using namespace kelta;
using namespace kelta::publish;

namespace {

// A record as the decoder makes it (typed values, texts made from them): two sensor readings
// and a GPS block, the largest messages a live record gives.
monitor::DecodedTagRecord recordNo(int i) {
    monitor::TagValues v;
    v.readerId = 1;
    for (int k = 0; k < 8; ++k)
        v.uid[7 - k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(i) >> (8 * k));
    v.rssi = static_cast<std::uint8_t>(100 + i % 50);
    v.lqi = 55;
    v.tagVersion = 0x10;
    v.packet = 0x11;
    v.model = 0x21;
    v.group = 0x01;
    v.state = 0x80;
    v.battery = 33;
    v.isnH = 0x7F;
    v.isnL = 0x01;
    v.dataShown = monitor::DataShown::Sensors;
    v.sensorCount = 2;
    v.sensors[0] = {monitor::SensorSlot::D1H, monitor::SensorKind::Temperature, 23.5f};
    v.sensors[1] = {monitor::SensorSlot::D2H, monitor::SensorKind::Humidity, 45.12f};
    v.gps = monitor::GpsFix{{121, 33, 44, 5, false}, {25, 1, 2, 3, false}, 12, 34};
    monitor::DecodedTagRecord r;
    r.values = v;
    monitor::RenderTagTexts(v, r);
    return r;
}

const LinkInfo kLink{LinkType::Serial, QStringLiteral("COM3")};

// The broker of this program, started once.
struct Broker {
    test::TestBroker broker;
    bool up = test::brokerAvailable() && broker.start();
};

Broker& broker() {
    static Broker b;
    return b;
}

struct Subscriber {
    mosquitto* mosq = nullptr;
    std::atomic<long> received{0};
    std::atomic<bool> subscribed{false};
    explicit Subscriber(quint16 port) {
        mosq = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(mosq, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, "kelta/#", 1);
        });
        mosquitto_subscribe_callback_set(mosq, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed = true;
        });
        mosquitto_message_callback_set(mosq, [](mosquitto*, void* self, const mosquitto_message*) {
            ++static_cast<Subscriber*>(self)->received;
        });
        mosquitto_connect(mosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq);
    }
    ~Subscriber() {
        mosquitto_disconnect(mosq);
        mosquitto_loop_stop(mosq, false);
        mosquitto_destroy(mosq);
    }
};

template <class Pred> bool waitFor(Pred pred, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QThread::usleep(200);
    }
    return true;
}

void BM_BuildTagMessage(benchmark::State& state) {
    const monitor::DecodedTagRecord r = recordNo(7);
    const QDateTime now = QDateTime::currentDateTime();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const TagMessage m = tagMessageFromRecord(r, monitor::DecodeMode::Live, kLink, now);
        const QByteArray topic =
            tagTopic(QStringLiteral("kelta"), QStringLiteral("north"), m.readerId, m.uid);
        const QByteArray json = tagMessageJson(m);
        bytes += static_cast<std::size_t>(topic.size() + json.size());
        benchmark::DoNotOptimize(json.constData());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BuildTagMessage);

// One iteration: a batch of records built, published, and all received by the subscriber.
void BM_PublishThroughBroker(benchmark::State& state) {
    Broker& b = broker();
    if (!b.up) {
        state.SkipWithError("mosquitto is not installed or did not start");
        return;
    }
    Subscriber sub(b.broker.port());
    if (!waitFor([&] { return sub.subscribed.load(); }, 10000)) {
        state.SkipWithError("subscriber did not subscribe");
        return;
    }
    PublishConfig c;
    c.enabled = true;
    c.host = QStringLiteral("127.0.0.1");
    c.port = b.broker.port();
    c.site = QStringLiteral("north");
    c.clientId = QStringLiteral("kelta-bench-pub");
    c.queueBound = 100000;
    MqttPublisher pub(c);
    pub.start();
    if (!waitFor([&] { return pub.state() == BrokerState::Connected; }, 10000)) {
        state.SkipWithError("publisher did not connect");
        return;
    }
    const int batch = static_cast<int>(state.range(0));
    const QDateTime now = QDateTime::currentDateTime();
    long expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            pub.publishTag(
                tagMessageFromRecord(recordNo(i), monitor::DecodeMode::Live, kLink, now));
        expected += batch;
        if (!waitFor([&] { return sub.received.load() >= expected; }, 60000)) {
            state.SkipWithError("messages did not arrive");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["dropped"] = static_cast<double>(pub.counters().dropped);
    pub.stop();
}
BENCHMARK(BM_PublishThroughBroker)
    ->Arg(1)
    ->Arg(100)
    ->Arg(2000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    mosquitto_lib_init();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
