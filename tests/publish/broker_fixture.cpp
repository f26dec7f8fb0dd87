#include "broker_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
// The tests check what they receive against the schemas; the benchmarks (no GoogleTest, no
// source folder) do not.
#ifdef KELTA_SOURCE_DIR
#include <gtest/gtest.h>
#endif
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelta::test {

namespace {

bool acceptsConnections(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool brokerAvailable() {
    return QFileInfo(QString::fromLatin1(kBrokerBinary)).isExecutable();
}

quint16 freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool makeTestCertificates(const QString& dir, TestCertificates& out) {
    const QDir d(dir);
    auto path = [&](const char* name) { return d.filePath(QString::fromLatin1(name)); };
    out = {path("ca.crt"), path("server.crt"), path("server.key"), path("client.crt"),
           path("client.key")};
    QFile ext(path("server.ext"));
    if (!ext.open(QIODevice::WriteOnly)) return false;
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    auto run = [](const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    };
    const QString days = QStringLiteral("2");
    if (!run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out",
              out.ca, "-days", days, "-subj", "/CN=kelta-test-ca"}))
        return false;
    struct Leaf {
        const char* name;
        QString cert, key;
        const char* subject;
        bool server;
    };
    for (const Leaf& l :
         {Leaf{"server", out.serverCert, out.serverKey, "/CN=127.0.0.1", true},
          Leaf{"client", out.clientCert, out.clientKey, "/CN=kelta-client", false}}) {
        const QString csr = d.filePath(QString::fromLatin1(l.name) + ".csr");
        if (!run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", l.key, "-out", csr, "-subj",
                  QString::fromLatin1(l.subject)}))
            return false;
        QStringList sign = {"x509",   "-req",         "-in",
                            csr,      "-CA",          out.ca,
                            "-CAkey", path("ca.key"), "-CAcreateserial",
                            "-out",   l.cert,         "-days",
                            days};
        if (l.server) sign << "-extfile" << ext.fileName();
        if (!run(sign)) return false;
    }
    return true;
}

void TestBroker::useTls(const QString& certFile, const QString& keyFile,
                        const QString& clientCaFile) {
    cert_ = certFile;
    key_ = keyFile;
    clientCa_ = clientCaFile;
}

TestBroker::TestBroker() {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

TestBroker::~TestBroker() {
    stop();
}

void TestBroker::requireLogin(const QString& user, const QString& password) {
    user_ = user;
    password_ = password;
}

bool TestBroker::start() {
    if (!dir_.isValid()) return false;
    if (port_ == 0) port_ = freeLoopbackPort();
    QString conf = QStringLiteral("listener %1 127.0.0.1\n").arg(port_);
    if (user_.isEmpty()) {
        conf += QStringLiteral("allow_anonymous true\n");
    } else {
        const QString pw = dir_.filePath(QStringLiteral("passwd"));
        QFile::remove(pw);
        const int rc =
            QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), QStringLiteral("-c"), pw, user_, password_});
        if (rc != 0) return false;
        conf += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(pw);
    }
    if (!cert_.isEmpty()) {
        conf += QStringLiteral("certfile %1\nkeyfile %2\n").arg(cert_, key_);
        if (!clientCa_.isEmpty())
            conf += QStringLiteral("cafile %1\nrequire_certificate true\n").arg(clientCa_);
    }
    conf += QStringLiteral("persistence true\npersistence_location %1/\n"
                           "max_queued_messages 100000\nlog_dest stderr\n")
                .arg(dir_.path());
    // Started as root, the broker would switch to its own user and lose access to this folder.
    if (::geteuid() == 0) conf += QStringLiteral("user root\n");
    QFile f(dir_.filePath(QStringLiteral("broker.conf")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(conf.toUtf8());
    f.close();
    process_.start(QString::fromLatin1(kBrokerBinary), {QStringLiteral("-c"), f.fileName()});
    if (!process_.waitForStarted(5000)) return false;
    const quint16 port = port_;
    const bool up = QTest::qWaitFor(
        [&] { return acceptsConnections(port) || process_.state() == QProcess::NotRunning; },
        10000);
    if (!up || process_.state() == QProcess::NotRunning) {
        log_ += QString::fromLocal8Bit(process_.readAll());
        return false;
    }
    return true;
}

void TestBroker::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    log_ += QString::fromLocal8Bit(process_.readAll());
}

TestSubscriber::TestSubscriber(quint16 port, const std::string& filter) : filter_(filter) {
    mosquitto_lib_init();
    const std::string id = "kelta-test-sub-" + std::to_string(port);
    mosq_ = mosquitto_new(id.c_str(), false, this);
    mosquitto_connect_callback_set(mosq_, &TestSubscriber::onConnect);
    mosquitto_subscribe_callback_set(mosq_, &TestSubscriber::onSubscribe);
    mosquitto_message_callback_set(mosq_, &TestSubscriber::onMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
}

TestSubscriber::~TestSubscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
#ifdef KELTA_SOURCE_DIR
    const std::string problems = schemaProblems(messages_);
    if (!problems.empty()) ADD_FAILURE() << "messages against docs/schema:\n" << problems;
#endif
}

bool isStatusTopic(const std::string& topic) {
    return topic.size() >= 7 && topic.compare(topic.size() - 7, 7, "/status") == 0;
}

#ifdef KELTA_SOURCE_DIR
std::string schemaProblems(const std::vector<Received>& messages) {
    if (messages.empty()) return {};
    QTemporaryDir dir;
    if (!dir.isValid()) return "no temporary folder";
    QFile f(dir.filePath(QStringLiteral("messages.jsonl")));
    if (!f.open(QIODevice::WriteOnly)) return "cannot write " + f.fileName().toStdString();
    for (const Received& m : messages) {
        QByteArray line = QByteArray::fromStdString(m.topic);
        line += '\t';
        line += m.payload;
        line.replace('\n', ' ');
        f.write(line + '\n');
    }
    f.close();
    QProcess p;
    p.start(QStringLiteral("python3"),
            {QStringLiteral(KELTA_SOURCE_DIR "/tests/support/validate_messages.py"),
             QStringLiteral(KELTA_SOURCE_DIR "/docs/schema"), f.fileName()});
    if (!p.waitForFinished(60000)) return "the schema check did not end";
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return {};
    return (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
}

#endif

std::vector<Received> TestSubscriber::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<Received> out;
    for (const Received& m : messages_)
        if (!isStatusTopic(m.topic)) out.push_back(m);
    return out;
}

std::size_t TestSubscriber::count() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const Received& m : messages_) n += !isStatusTopic(m.topic);
    return n;
}

std::vector<Received> TestSubscriber::statusMessages() const {
    std::lock_guard lock(mutex_);
    std::vector<Received> out;
    for (const Received& m : messages_)
        if (isStatusTopic(m.topic)) out.push_back(m);
    return out;
}

std::vector<Received> TestSubscriber::all() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

void TestSubscriber::onConnect(mosquitto* m, void* self, int rc) {
    auto* s = static_cast<TestSubscriber*>(self);
    if (rc == 0) mosquitto_subscribe(m, nullptr, s->filter_.c_str(), 1);
}

void TestSubscriber::onSubscribe(mosquitto*, void* self, int, int, const int*) {
    static_cast<TestSubscriber*>(self)->subscribed_ = true;
}

void TestSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<TestSubscriber*>(self);
    std::lock_guard lock(s->mutex_);
    s->messages_.push_back(Received{
        m->topic, QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->retain});
}

} // namespace kelta::test
