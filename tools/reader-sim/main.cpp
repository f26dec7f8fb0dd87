// kelta-reader-sim: stands in for one or more readers so that the utility can be tried
// without hardware. Talks only to 127.0.0.1 or to pseudo-terminals it creates.

#include "kelta/version.h"
#include "reader-sim/sim_exciter.h"
#include "reader-sim/sim_host.h"
#include "reader-sim/sim_reader_state.h"
#include "reader-sim/sim_tags.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace kelta::sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "kelta-reader-sim: %s\n", qPrintable(message));
    std::exit(2);
}

int toInt(const QString& text, const char* what, int lo, int hi) {
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < lo || v > hi)
        fail(
            QStringLiteral("%1: %2 is not a number from %3 to %4").arg(what, text).arg(lo).arg(hi));
    return v;
}

double toDouble(const QString& text, const char* what) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v < 0) fail(QStringLiteral("%1: %2 is not a number >= 0").arg(what, text));
    return v;
}

void toRange(const QString& text, const char* what, int& lo, int& hi) {
    const QStringList p = text.split(':');
    if (p.size() != 2) fail(QStringLiteral("%1: expected MIN:MAX, got %2").arg(what, text));
    lo = toInt(p[0], what, 0, 255);
    hi = toInt(p[1], what, lo, 255);
}

enum class Line { TcpServer, TcpClient, Pty };
struct LineChoice {
    Line kind;
    int number; // port or COM number
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelta-reader-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELTA_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated readers: live tag reports, stored tag logs, reader commands answered\n"
        "from a settings store (writes change it, reads return it, reset restores it),\n"
        "tag commands relayed to simulated V3 and V1 tags, an exciter on serial lines,\n"
        "and faults on purpose. Lines: a listening TCP port on 127.0.0.1, a connection to\n"
        "the utility's listening port on 127.0.0.1, or a pseudo-terminal linked as COMn in\n"
        "the serial device map (folder from KELTA_SERIAL_MAP). Runs until SIGINT/SIGTERM,\n"
        "which also remove the COM links.\n\n"
        "Line options may be repeated, one reader per option; --readers K makes K readers\n"
        "from the first line option with consecutive ports or COM numbers (port 0 gives\n"
        "every reader an ephemeral port). Reader IDs count up from --reader-id."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption tcpServer(
        QStringLiteral("tcp-server"),
        QStringLiteral("Listen on 127.0.0.1:PORT (0: any free port)."), QStringLiteral("PORT"));
    const QCommandLineOption tcpClient(
        QStringLiteral("tcp-client"),
        QStringLiteral("Connect to the utility at HOST:PORT; HOST must "
                       "be 127.0.0.1 or localhost."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Open a pseudo-terminal registered as COMn."),
                                 QStringLiteral("COMn"));
    const QCommandLineOption readers(QStringLiteral("readers"),
                                     QStringLiteral("Number of readers made from the first line "
                                                    "option (default 1)."),
                                     QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption reconnect(QStringLiteral("reconnect"),
                                       QStringLiteral("TCP client: connect again MS after a loss "
                                                      "(default 1000; -1: never)."),
                                       QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption tags(QStringLiteral("tags"),
                                  QStringLiteral("Tags per reader (default 10)."),
                                  QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption uids(QStringLiteral("uids"),
                                  QStringLiteral("Comma-separated 16-digit hex UIDs used first."),
                                  QStringLiteral("LIST"));
    const QCommandLineOption hexUids(
        QStringLiteral("hex-uids"),
        QStringLiteral("Drawn UIDs may contain A-F (the utility rejects "
                       "those)."));
    const QCommandLineOption versions(QStringLiteral("versions"),
                                      QStringLiteral("Comma-separated hex tag versions, cycled "
                                                     "(default: drawn from 10-19, 20-29, 30-39)."),
                                      QStringLiteral("LIST"));
    const QCommandLineOption sensors(QStringLiteral("sensors"),
                                     QStringLiteral("Every tag carries sensor values (version 10, "
                                                    "selectors 0-3 in turn)."));
    const QCommandLineOption mixed(QStringLiteral("mixed-sensors"),
                                   QStringLiteral("Every other tag carries sensor values."));
    const QCommandLineOption gps(
        QStringLiteral("gps"), QStringLiteral("Every tag reports a GPS block (41-byte records)."));
    const QCommandLineOption rssi(QStringLiteral("rssi"),
                                  QStringLiteral("RSSI range (default 30:90)."),
                                  QStringLiteral("MIN:MAX"), QStringLiteral("30:90"));
    const QCommandLineOption lqi(QStringLiteral("lqi"),
                                 QStringLiteral("LQI range (default 40:110)."),
                                 QStringLiteral("MIN:MAX"), QStringLiteral("40:110"));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  QStringLiteral("Live report frames per second per reader "
                                                 "(default 2; 0: none)."),
                                  QStringLiteral("F"), QStringLiteral("2"));
    const QCommandLineOption readerId(QStringLiteral("reader-id"),
                                      QStringLiteral("Reader ID of the first reader (default 1)."),
                                      QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption flags(QStringLiteral("flags"),
                                   QStringLiteral("Flags of report frames, hex: 0800 reader ID "
                                                  "(default), 0C00 ID and 4 extra bytes, 0400, "
                                                  "0000."),
                                   QStringLiteral("HEX"), QStringLiteral("0800"));
    const QCommandLineOption answerFlags(QStringLiteral("answer-flags"),
                                         QStringLiteral("Flags of answers, hex 0000/0800/0400/0C00 "
                                                        "(default: reader ID when the request "
                                                        "had one)."),
                                         QStringLiteral("HEX"));
    const QCommandLineOption type(QStringLiteral("type"),
                                  QStringLiteral("Live frame type: 6040 (default) or 6042."),
                                  QStringLiteral("6040|6042"), QStringLiteral("6040"));
    const QCommandLineOption logRecords(
        QStringLiteral("log-records"), QStringLiteral("Records in the stored tag log (default 0)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption logPerFrame(QStringLiteral("log-per-frame"),
                                         QStringLiteral("Log records per frame (default 9)."),
                                         QStringLiteral("K"), QStringLiteral("9"));
    const QCommandLineOption logStream(QStringLiteral("log-stream"),
                                       QStringLiteral("Send the whole log on the first request "
                                                      "(default: one frame per request)."));
    const QCommandLineOption garbage(QStringLiteral("garbage"),
                                     QStringLiteral("Garbage bytes before every N-th frame."),
                                     QStringLiteral("N"));
    const QCommandLineOption garbageLen(QStringLiteral("garbage-len"),
                                        QStringLiteral("Length of each garbage run (default 5)."),
                                        QStringLiteral("L"), QStringLiteral("5"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Split frames: one (one-byte writes) or random "
                                                  "(random cuts)."),
                                   QStringLiteral("one|random"));
    const QCommandLineOption splitGap(QStringLiteral("split-gap"),
                                      QStringLiteral("Pause between the pieces of a split frame."),
                                      QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption merge(QStringLiteral("merge"),
                                   QStringLiteral("K frames in one write."), QStringLiteral("K"));
    const QCommandLineOption wrongType(QStringLiteral("wrong-type"),
                                       QStringLiteral("Every N-th live frame has type 6041."),
                                       QStringLiteral("N"));
    const QCommandLineOption silence(
        QStringLiteral("silence"), QStringLiteral("Fall silent (connection kept) after S seconds."),
        QStringLiteral("S"));
    const QCommandLineOption resetEvery(QStringLiteral("reset-every"),
                                        QStringLiteral("Reset the TCP connection / hang up the pty "
                                                       "every S seconds (a pty comes back 1 s "
                                                       "later)."),
                                        QStringLiteral("S"));
    const QCommandLineOption answerDelay(QStringLiteral("answer-delay"),
                                         QStringLiteral("Answer requests MS late."),
                                         QStringLiteral("MS"));
    const QCommandLineOption answerWrong(QStringLiteral("answer-wrong-code"),
                                         QStringLiteral("Send an answer with the wrong code before "
                                                        "each right one."));
    const QCommandLineOption answerSplit(QStringLiteral("answer-split"),
                                         QStringLiteral("Send answers in two writes, MS apart."),
                                         QStringLiteral("MS"));
    const QCommandLineOption noAnswer(QStringLiteral("no-answer"),
                                      QStringLiteral("Never answer requests."));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the tag population (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption model(QStringLiteral("model"),
                                   QStringLiteral("Model code the reader reports, hex (default "
                                                  "8402, LR900-A)."),
                                   QStringLiteral("HEX"), QStringLiteral("8402"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Serial number, hex (default 00123456)."),
                                    QStringLiteral("HEX"), QStringLiteral("00123456"));
    const QCommandLineOption firmware(QStringLiteral("firmware"),
                                      QStringLiteral("Firmware name, at most 12 characters "
                                                     "(default LR900-SIM)."),
                                      QStringLiteral("NAME"), QStringLiteral("LR900-SIM"));
    const QCommandLineOption fwVersion(QStringLiteral("fw-version"),
                                       QStringLiteral("Firmware version, hex (default 0114)."),
                                       QStringLiteral("HEX"), QStringLiteral("0114"));
    const QCommandLineOption tagDbSize(QStringLiteral("tag-db-size"),
                                       QStringLiteral("Records of the reader's tag database "
                                                      "(default 500)."),
                                       QStringLiteral("N"), QStringLiteral("500"));
    const QCommandLineOption inputs(QStringLiteral("inputs"),
                                    QStringLiteral("Digital inputs 1-4 as four digits 0/1 "
                                                   "(default 1010)."),
                                    QStringLiteral("DDDD"), QStringLiteral("1010"));
    for (const auto* o :
         {&model,       &serial,      &firmware,    &fwVersion, &tagDbSize, &inputs,
          &tcpServer,   &tcpClient,   &pty,         &readers,   &reconnect, &tags,
          &uids,        &hexUids,     &versions,    &sensors,   &mixed,     &gps,
          &rssi,        &lqi,         &rate,        &readerId,  &flags,     &answerFlags,
          &type,        &logRecords,  &logPerFrame, &logStream, &garbage,   &garbageLen,
          &split,       &splitGap,    &merge,       &wrongType, &silence,   &resetEvery,
          &answerDelay, &answerWrong, &answerSplit, &noAnswer,  &seed})
        p.addOption(*o);
    addTagOptions(p);
    addExciterOptions(p);
    p.process(app);
    if (!p.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument %1").arg(p.positionalArguments().first()));

    // Lines, in the order given by kind.
    std::vector<LineChoice> lines;
    for (const QString& v : p.values(tcpServer))
        lines.push_back({Line::TcpServer, toInt(v, "--tcp-server", 0, 65535)});
    for (const QString& v : p.values(tcpClient)) {
        const int colon = static_cast<int>(v.lastIndexOf(':'));
        const QString host = v.left(colon);
        if (colon < 0 || (host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost")))
            fail(QStringLiteral("--tcp-client: only 127.0.0.1:PORT or localhost:PORT, got %1")
                     .arg(v));
        lines.push_back({Line::TcpClient, toInt(v.mid(colon + 1), "--tcp-client", 1, 65535)});
    }
    for (const QString& v : p.values(pty)) {
        QString s = v.toUpper();
        if (s.startsWith(QLatin1String("COM"))) s = s.mid(3);
        lines.push_back({Line::Pty, toInt(s, "--pty", 1, 255)});
    }
    if (lines.empty()) fail(QStringLiteral("no line given: --tcp-server, --tcp-client or --pty"));
    const int k = toInt(p.value(readers), "--readers", 1, 64);
    if (k > 1) {
        const LineChoice first = lines.front();
        // The extra readers follow the first one directly, so IDs and numbers run together.
        for (int i = 1; i < k; ++i)
            lines.insert(lines.begin() + i, {first.kind, first.number == 0 ? 0 : first.number + i});
    }

    ReaderConfig base;
    base.tags.count = toInt(p.value(tags), "--tags", 0, 100000);
    for (const QString& u : p.value(uids).split(',', Qt::SkipEmptyParts)) {
        Uid id{};
        if (!parseUid(u.trimmed().toStdString(), id))
            fail(QStringLiteral("--uids: bad UID %1").arg(u));
        base.tags.uids.push_back(id);
    }
    base.tags.uidHexLetters = p.isSet(hexUids);
    for (const QString& v : p.value(versions).split(',', Qt::SkipEmptyParts))
        base.tags.versions.push_back(static_cast<std::uint8_t>(
            toInt(QStringLiteral("0x") + v.trimmed(), "--versions", 0, 255)));
    base.tags.sensors =
        p.isSet(sensors) ? SensorMix::All : (p.isSet(mixed) ? SensorMix::Mixed : SensorMix::None);
    base.tags.gps = p.isSet(gps);
    toRange(p.value(rssi), "--rssi", base.tags.rssiMin, base.tags.rssiMax);
    toRange(p.value(lqi), "--lqi", base.tags.lqiMin, base.tags.lqiMax);
    base.rate = toDouble(p.value(rate), "--rate");
    const int firstId = toInt(p.value(readerId), "--reader-id", 0, 65535);
    const int fl = toInt(QStringLiteral("0x") + p.value(flags), "--flags", 0, 0xFFFF);
    base.sendReaderId = fl & kFlagReaderId;
    base.sendExtension = fl & kFlagExtension;
    const QString t = p.value(type);
    if (t != QLatin1String("6040") && t != QLatin1String("6042"))
        fail(QStringLiteral("--type: 6040 or 6042"));
    base.liveType = t == QLatin1String("6042") ? kTypeLiveAlt : kTypeLive;
    base.logRecords = toInt(p.value(logRecords), "--log-records", 0, 1000000);
    base.logRecordsPerFrame = toInt(p.value(logPerFrame), "--log-per-frame", 1, 9);
    base.logPacing = p.isSet(logStream) ? LogPacing::Stream : LogPacing::PerRequest;
    if (p.isSet(garbage))
        base.faults.garbageEvery = toInt(p.value(garbage), "--garbage", 1, 1000000);
    base.faults.garbageLength = toInt(p.value(garbageLen), "--garbage-len", 1, 1000);
    if (p.isSet(split)) {
        const QString s = p.value(split);
        if (s == QLatin1String("one"))
            base.faults.split = SplitMode::OneByte;
        else if (s == QLatin1String("random"))
            base.faults.split = SplitMode::RandomCuts;
        else
            fail(QStringLiteral("--split: one or random"));
    }
    base.faults.splitGapMs = toInt(p.value(splitGap), "--split-gap", 0, 60000);
    if (p.isSet(merge)) base.faults.mergeCount = toInt(p.value(merge), "--merge", 2, 10000);
    if (p.isSet(wrongType))
        base.faults.wrongTypeEvery = toInt(p.value(wrongType), "--wrong-type", 1, 1000000);
    if (p.isSet(resetEvery))
        base.faults.resetEveryMs =
            static_cast<int>(toDouble(p.value(resetEvery), "--reset-every") * 1000);
    if (p.isSet(answerDelay))
        base.answers.delayMs = toInt(p.value(answerDelay), "--answer-delay", 0, 600000);
    base.answers.wrongCodeFirst = p.isSet(answerWrong);
    if (p.isSet(answerSplit))
        base.answers.splitGapMs = toInt(p.value(answerSplit), "--answer-split", 0, 60000);
    base.answers.none = p.isSet(noAnswer);
    if (p.isSet(answerFlags)) {
        const int af =
            toInt(QStringLiteral("0x") + p.value(answerFlags), "--answer-flags", 0, 0xFFFF);
        base.answers.id = (af & kFlagReaderId) ? IdMode::Always : IdMode::Never;
        base.answers.extension = af & kFlagExtension;
    }
    const auto seedValue =
        static_cast<std::uint32_t>(toInt(p.value(seed), "--seed", 0, 0x7FFFFFFF));
    const int reconnectMs = toInt(p.value(reconnect), "--reconnect", -1, 3600000);
    TagOptions tagOptions;
    ExciterOptions exciterOptions;
    QString optionError;
    if (!tagOptionsFrom(p, tagOptions, optionError) ||
        !exciterOptionsFrom(p, exciterOptions, optionError))
        fail(optionError);

    ReaderIdentityConfig identity;
    identity.model = static_cast<std::uint16_t>(
        toInt(QStringLiteral("0x") + p.value(model), "--model", 0, 0xFFFF));
    bool serialOk = false;
    identity.serial = p.value(serial).toUInt(&serialOk, 16);
    if (!serialOk) fail(QStringLiteral("--serial: %1 is not hexadecimal").arg(p.value(serial)));
    identity.firmware = p.value(firmware).left(12).toStdString();
    identity.version = static_cast<std::uint16_t>(
        toInt(QStringLiteral("0x") + p.value(fwVersion), "--fw-version", 0, 0xFFFF));
    identity.tagDbSize = toInt(p.value(tagDbSize), "--tag-db-size", 0, 1000000);
    const QString in = p.value(inputs);
    if (in.size() != 4 || in.count(QLatin1Char('0')) + in.count(QLatin1Char('1')) != 4)
        fail(QStringLiteral("--inputs: four digits 0 or 1, got %1").arg(in));
    for (int i = 0; i < 4; ++i)
        identity.inputs[static_cast<std::size_t>(i)] = in[i] == QLatin1Char('1');
    // Every reader answers the reader commands from its own settings store.
    std::vector<std::unique_ptr<SimReaderState>> states;

    SimHost host(false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ReaderConfig c = base;
        c.readerId = static_cast<std::uint16_t>(firstId + static_cast<int>(i));
        c.seed = seedValue + static_cast<std::uint32_t>(i);
        const int idx = host.addReader(c);
        const LineChoice& l = lines[i];
        ReaderSim& r = host.reader(idx);
        ReaderIdentityConfig own = identity;
        own.serial += static_cast<std::uint32_t>(i);
        states.push_back(std::make_unique<SimReaderState>(own));
        states.back()->install(r);
        new SimTags(r, tagOptions); // children of the reader
        if (lines[i].kind == Line::Pty) new SimExciter(r, exciterOptions);
        switch (l.kind) {
        case Line::TcpServer:
            if (!r.listenTcp(static_cast<quint16>(l.number)))
                fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(l.number));
            break;
        case Line::TcpClient:
            r.connectTcp(static_cast<quint16>(l.number), reconnectMs);
            break;
        case Line::Pty:
            if (!r.openPty(l.number)) fail(QStringLiteral("cannot register COM%1").arg(l.number));
            if (base.faults.resetEveryMs > 0)
                QObject::connect(&r, &ReaderSim::peerDisconnected, &r,
                                 [&r] { QTimer::singleShot(1000, &r, [&r] { r.reopenPty(); }); });
            break;
        }
        std::printf("reader %zu id %u: %s\n", i + 1, c.readerId, qPrintable(r.lineDescription()));
    }
    std::fflush(stdout);

    if (p.isSet(silence)) {
        const int ms = static_cast<int>(toDouble(p.value(silence), "--silence") * 1000);
        QTimer::singleShot(ms, &app, [&host] {
            for (int i = 0; i < host.readerCount(); ++i) host.reader(i).setSilent(true);
        });
    }

    if (::pipe(signalPipe) != 0) fail(QStringLiteral("pipe failed"));
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QSocketNotifier sn(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&sn, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    const int rc = app.exec();
    host.stop(); // removes the COM links
    return rc;
}
