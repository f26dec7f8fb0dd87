#include "reader-sim/reader_sim.h"

#include "reader-sim/sim_transport.h"

#include <QMutexLocker>
#include <QTimer>
#include <algorithm>

namespace kelta::sim {

namespace {

QByteArray toQt(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

constexpr int kTickMs = 10;
constexpr quint64 kMaxBurst = 500; // frames per tick at most, after a stall
constexpr std::uint16_t kWrongLiveType = 0x6041;

} // namespace

ReaderSim::ReaderSim(const ReaderConfig& config, QObject* parent)
    : QObject(parent), cfg_(config), population_(config.tags, config.seed),
      rng_(config.seed ^ 0x5EEDu), tickTimer_(new QTimer(this)), drainTimer_(new QTimer(this)),
      mergeTimer_(new QTimer(this)), resetTimer_(new QTimer(this)) {
    drainTimer_->setSingleShot(true);
    connect(drainTimer_, &QTimer::timeout, this, &ReaderSim::drain);
    tickTimer_->setInterval(kTickMs);
    connect(tickTimer_, &QTimer::timeout, this, &ReaderSim::tick);
    mergeTimer_->setSingleShot(true);
    connect(mergeTimer_, &QTimer::timeout, this, &ReaderSim::flushMerge);
    connect(resetTimer_, &QTimer::timeout, this, &ReaderSim::resetConnection);
    log_ = population_.makeLog(cfg_.logRecords, cfg_.readerId);
    setRate(cfg_.rate);
    setFaults(cfg_.faults);
}

ReaderSim::~ReaderSim() {
    stop();
}

// --- lines --------------------------------------------------------------------------------

void ReaderSim::detach() {
    queue_.clear();
    drainTimer_->stop();
    mergeBuf_.clear();
    mergeDone_.clear();
    mergeFrames_ = 0;
    collector_.clear();
    server_ = nullptr;
    client_ = nullptr;
    pty_ = nullptr;
    if (transport_) {
        transport_->disconnect(this);
        transport_.reset();
    }
}

void ReaderSim::attach(SimTransport* t) {
    transport_.reset(t);
    connect(t, &SimTransport::bytesReceived, this, &ReaderSim::onBytes);
    connect(t, &SimTransport::peerConnected, this, [this] {
        collector_.clear();
        {
            QMutexLocker lock(&mutex_);
            ++stats_.connections;
        }
        emit peerConnected();
    });
    connect(t, &SimTransport::peerDisconnected, this, [this] {
        queue_.clear();
        drainTimer_->stop();
        {
            QMutexLocker lock(&mutex_);
            ++stats_.disconnections;
        }
        emit peerDisconnected();
    });
}

bool ReaderSim::listenTcp(quint16 port) {
    detach();
    auto* s = new TcpServerTransport;
    attach(s);
    server_ = s;
    return s->listen(port);
}

bool ReaderSim::listenTcp(quint16 port, const QString& address) {
    detach();
    auto* s = new TcpServerTransport;
    attach(s);
    server_ = s;
    return s->listen(port, address);
}

bool ReaderSim::connectTcpFrom(const QString& localAddress, quint16 port, int autoReconnectMs) {
    detach();
    auto* c = new TcpClientTransport;
    if (!c->setLocalAddress(localAddress)) {
        delete c;
        return false;
    }
    attach(c);
    client_ = c;
    c->setAutoReconnect(autoReconnectMs);
    c->connectTo(port);
    return true;
}

quint16 ReaderSim::localTcpPort() const {
    return client_ ? client_->localPort() : 0;
}

quint16 ReaderSim::tcpPort() const {
    if (server_) return server_->port();
    if (client_) return client_->port();
    return 0;
}

void ReaderSim::connectTcp(quint16 port, int autoReconnectMs) {
    detach();
    auto* c = new TcpClientTransport;
    attach(c);
    client_ = c;
    c->setAutoReconnect(autoReconnectMs);
    c->connectTo(port);
}

void ReaderSim::reconnectTcp() {
    if (client_) client_->reconnect();
}

bool ReaderSim::openPty(int comNumber) {
    detach();
    auto* p = new PtyTransport;
    attach(p);
    pty_ = p;
    return p->open(comNumber);
}

bool ReaderSim::reopenPty() {
    return pty_ && pty_->reopen();
}

QString ReaderSim::ptySlavePath() const {
    return pty_ ? pty_->slavePath() : QString();
}
QString ReaderSim::comLinkPath() const {
    return pty_ ? pty_->linkPath() : QString();
}
bool ReaderSim::isPeerConnected() const {
    return transport_ && transport_->isPeerConnected();
}
QString ReaderSim::lineDescription() const {
    return transport_ ? transport_->description() : QString();
}

void ReaderSim::stop() {
    tickTimer_->stop();
    resetTimer_->stop();
    mergeTimer_->stop();
    detach();
}

// --- behaviour ----------------------------------------------------------------------------

void ReaderSim::setRate(double framesPerSecond) {
    cfg_.rate = framesPerSecond > 0 ? framesPerSecond : 0.0;
    rateClock_.start();
    rateBase_ = 0;
    if (cfg_.rate > 0)
        tickTimer_->start();
    else
        tickTimer_->stop();
}

void ReaderSim::setReportHeader(bool withReaderId, bool withExtension) {
    cfg_.sendReaderId = withReaderId;
    cfg_.sendExtension = withExtension;
}

void ReaderSim::setFaults(const FaultOptions& f) {
    cfg_.faults = f;
    if (f.resetEveryMs > 0)
        resetTimer_->start(f.resetEveryMs);
    else
        resetTimer_->stop();
}

void ReaderSim::setLog(std::vector<LogEntry> entries) {
    log_ = std::move(entries);
    logCursor_ = 0;
}

void ReaderSim::setSilent(bool silent) {
    silent_ = silent;
    if (silent) {
        queue_.clear();
        drainTimer_->stop();
        mergeBuf_.clear();
        mergeDone_.clear();
        mergeFrames_ = 0;
    }
    rateClock_.start();
    rateBase_ = 0;
}

HeaderOptions ReaderSim::reportHeader() const {
    HeaderOptions h;
    h.withReaderId = cfg_.sendReaderId;
    h.readerId = cfg_.readerId;
    h.withExtension = cfg_.sendExtension;
    return h;
}

// --- receiving ----------------------------------------------------------------------------

void ReaderSim::onBytes(const QByteArray& b) {
    {
        QMutexLocker lock(&mutex_);
        stats_.bytesReceived += static_cast<quint64>(b.size());
    }
    const QByteArray rest = rawFilter_ ? rawFilter_(b) : b;
    std::vector<ReceivedFrame> frames;
    collector_.feed(std::span(reinterpret_cast<const std::uint8_t*>(rest.constData()),
                              static_cast<std::size_t>(rest.size())),
                    frames);
    for (const ReceivedFrame& f : frames) {
        {
            QMutexLocker lock(&mutex_);
            received_.push_back(f);
            ++stats_.framesReceived;
            if (f.hasCrc) ++stats_.requestsReceived;
            if (f.hasCrc && !f.crcOk) ++stats_.badCrcRequests;
            if (!f.hasCrc && f.code == kTypeLog) ++stats_.logRequestsReceived;
            if (!f.hasCrc && f.code == kCodeAnnouncement) ++stats_.announcementsReceived;
        }
        dispatch(f);
        emit frameReceived(f.code);
    }
}

// One dispatch by command code: requests with CRC, then the monitoring commands, then the
// commands without CRC that a handler has been given for.
void ReaderSim::dispatch(const ReceivedFrame& f) {
    if (f.hasCrc) {
        if (f.crcOk) answerRequest(f); // a damaged request is never answered
        return;
    }
    if (auto it = commandHandlers_.find(f.code); it != commandHandlers_.end()) {
        for (const Bytes& frame : it->second(f)) emitFrame(frame, {});
        return;
    }
    if (f.code == kTypeLog) answerLogRequest();
    // 0x6011 and 0x6030 expect nothing back.
}

void ReaderSim::answerRequest(const ReceivedFrame& f) {
    const auto mi = modes_.find(f.code);
    const AnswerMode mode = mi != modes_.end() ? mi->second : cfg_.answers;
    if (mode.none) return;
    std::optional<Bytes> data;
    if (auto h = requestHandlers_.find(f.code); h != requestHandlers_.end())
        data = h->second(f);
    else if (auto a = answers_.find(f.code); a != answers_.end())
        data = a->second;
    else
        data = cfg_.defaultAnswerData;
    if (!data) return;

    HeaderOptions h;
    h.readerId = cfg_.readerId;
    h.withReaderId = mode.id == IdMode::Always || (mode.id == IdMode::AsRequest && f.readerId);
    h.withExtension = mode.extension;
    const std::uint16_t code = f.code;
    // An empty answer ("nothing here") is the bare header without the two trailing bytes.
    const Bytes answer =
        data->empty() ? encodeReaderFrame(code, h, {}) : encodeAnswer(code, h, *data);
    const Bytes wrong = encodeAnswer(static_cast<std::uint16_t>(code + 1), h, *data);

    auto send = [this, mode, answer, wrong] {
        if (silent_) return;
        if (mode.wrongCodeFirst)
            enqueue({toQt(wrong), 0, [this] {
                         QMutexLocker lock(&mutex_);
                         ++stats_.wrongCodeAnswersSent;
                     }});
        auto done = [this] {
            QMutexLocker lock(&mutex_);
            ++stats_.answersSent;
        };
        const QByteArray a = toQt(answer);
        if (mode.splitGapMs >= 0) {
            const qsizetype cut = a.size() / 2;
            enqueue({a.left(cut), 0, {}});
            enqueue({a.mid(cut), mode.splitGapMs, done});
        } else {
            enqueue({a, 0, done});
        }
    };
    if (mode.delayMs > 0)
        QTimer::singleShot(mode.delayMs, this, send);
    else
        send();
}

void ReaderSim::answerLogRequest() {
    if (logCursor_ >= log_.size()) return; // the whole log was sent: nothing more
    if (cfg_.logPacing == LogPacing::PerRequest) {
        sendLogFrame();
    } else {
        while (logCursor_ < log_.size()) sendLogFrame();
    }
}

void ReaderSim::sendLogFrame() {
    const std::size_t per = static_cast<std::size_t>(std::max(1, cfg_.logRecordsPerFrame));
    const std::size_t k = std::min(per, log_.size() - logCursor_);
    const auto seq = static_cast<std::uint16_t>(cfg_.logFirstSequence + logCursor_);
    HeaderOptions h = reportHeader();
    const Bytes frame = encodeLogFrame(seq, std::span(log_).subspan(logCursor_, k), h);
    logCursor_ += k;
    emitFrame(frame, [this, k] {
        QMutexLocker lock(&mutex_);
        ++stats_.logFramesSent;
        stats_.logRecordsSent += k;
    });
}

// --- live reports -------------------------------------------------------------------------

void ReaderSim::tick() {
    if (cfg_.rate <= 0) return;
    if (silent_ || !isPeerConnected()) {
        rateClock_.start();
        rateBase_ = 0;
        return;
    }
    const auto due =
        static_cast<quint64>(static_cast<double>(rateClock_.elapsed()) * cfg_.rate / 1000.0);
    quint64 n = due > rateBase_ ? due - rateBase_ : 0;
    if (n > kMaxBurst) {
        rateBase_ = due - kMaxBurst;
        n = kMaxBurst;
    }
    for (quint64 i = 0; i < n; ++i) emitLiveFrame();
    rateBase_ += n;
}

void ReaderSim::sendLiveReports(int n) {
    for (int i = 0; i < n; ++i) emitLiveFrame();
}

void ReaderSim::emitLiveFrame() {
    if (silent_) return;
    const TagReading r = population_.nextReading(cfg_.readerId);
    ++liveCounter_;
    const bool wrong =
        cfg_.faults.wrongTypeEvery > 0 && liveCounter_ % cfg_.faults.wrongTypeEvery == 0;
    const Bytes frame = encodeLiveFrame(r, wrong ? kWrongLiveType : cfg_.liveType, reportHeader());
    const std::string uid = uidHex(r.uid);
    emitFrame(frame, [this, wrong, uid] {
        QMutexLocker lock(&mutex_);
        if (wrong) {
            ++stats_.wrongTypeFramesSent;
        } else {
            ++stats_.liveFramesSent;
            ++perUid_[uid];
        }
    });
}

// --- the outgoing stream and its faults ---------------------------------------------------

void ReaderSim::emitFrame(Bytes frame, std::function<void()> onWritten) {
    if (silent_ || !isPeerConnected()) return;
    ++frameCounter_;
    const FaultOptions& f = cfg_.faults;
    QByteArray bytes;
    if (f.garbageEvery > 0 && frameCounter_ % f.garbageEvery == 0) {
        std::uniform_int_distribution<int> d(0, 255);
        for (int i = 0; i < f.garbageLength; ++i) {
            auto b = static_cast<char>(d(rng_));
            if (!f.garbageMayHoldStart && static_cast<std::uint8_t>(b) == kFromReader) b = 0x5A;
            bytes.append(b);
        }
        QMutexLocker lock(&mutex_);
        stats_.garbageBytesSent += static_cast<quint64>(f.garbageLength);
    }
    bytes.append(toQt(frame));

    if (f.mergeCount >= 2) {
        mergeBuf_.append(bytes);
        if (onWritten) mergeDone_.push_back(std::move(onWritten));
        if (++mergeFrames_ >= f.mergeCount)
            flushMerge();
        else if (!mergeTimer_->isActive())
            mergeTimer_->start(50);
        return;
    }
    switch (f.split) {
    case SplitMode::None:
        enqueue({bytes, 0, std::move(onWritten)});
        break;
    case SplitMode::OneByte:
        for (qsizetype i = 0; i < bytes.size(); ++i)
            enqueue({bytes.mid(i, 1), i == 0 ? 0 : f.splitGapMs,
                     i + 1 == bytes.size() ? onWritten : std::function<void()>{}});
        break;
    case SplitMode::RandomCuts: {
        qsizetype pos = 0;
        std::uniform_int_distribution<qsizetype> d(1, std::max<qsizetype>(1, bytes.size() / 2));
        while (pos < bytes.size()) {
            const qsizetype len = std::min(d(rng_), bytes.size() - pos);
            const bool last = pos + len == bytes.size();
            enqueue({bytes.mid(pos, len), pos == 0 ? 0 : f.splitGapMs,
                     last ? onWritten : std::function<void()>{}});
            pos += len;
        }
        break;
    }
    }
}

void ReaderSim::flushMerge() {
    mergeTimer_->stop();
    if (mergeBuf_.isEmpty()) return;
    auto done = std::move(mergeDone_);
    mergeDone_.clear();
    enqueue({mergeBuf_, 0, [done] {
                 for (const auto& d : done) d();
             }});
    mergeBuf_.clear();
    mergeFrames_ = 0;
}

void ReaderSim::sendRaw(const Bytes& bytes) {
    enqueue({toQt(bytes), 0, {}});
}

void ReaderSim::enqueue(Chunk c) {
    if (silent_) return;
    queue_.push_back(std::move(c));
    if (!drainTimer_->isActive()) scheduleDrain();
}

void ReaderSim::scheduleDrain() {
    if (queue_.empty()) return;
    drainTimer_->start(queue_.front().delayMs);
}

void ReaderSim::drain() {
    // Write every chunk that is due now; a chunk with a gap waits for its own timer.
    bool first = true;
    while (!queue_.empty() && (first || queue_.front().delayMs == 0)) {
        first = false;
        Chunk c = std::move(queue_.front());
        queue_.pop_front();
        if (transport_ && transport_->write(c.bytes)) {
            {
                QMutexLocker lock(&mutex_);
                stats_.bytesSent += static_cast<quint64>(c.bytes.size());
            }
            if (c.onWritten) c.onWritten();
        }
        // One-byte and cut writes each get their own turn of the event loop.
        if (cfg_.faults.split != SplitMode::None) break;
    }
    scheduleDrain();
}

void ReaderSim::resetConnection() {
    if (transport_) transport_->reset();
}

void ReaderSim::cutMidFrame(bool withReset, int closeAfterMs) {
    if (!transport_ || !transport_->isPeerConnected()) return;
    const TagReading r = population_.nextReading(cfg_.readerId);
    const QByteArray f = toQt(encodeLiveFrame(r, cfg_.liveType, reportHeader()));
    queue_.clear();
    drainTimer_->stop();
    transport_->write(f.left(f.size() / 2));
    SimTransport* t = transport_.get();
    QTimer::singleShot(closeAfterMs, this, [this, t, withReset] {
        if (transport_.get() != t) return; // the line was replaced meanwhile
        if (withReset)
            t->reset();
        else
            t->closePeer();
    });
}

// --- observers ----------------------------------------------------------------------------

SimStats ReaderSim::stats() const {
    QMutexLocker lock(&mutex_);
    return stats_;
}

std::vector<ReceivedFrame> ReaderSim::received() const {
    QMutexLocker lock(&mutex_);
    return received_;
}

std::size_t ReaderSim::receivedCount() const {
    QMutexLocker lock(&mutex_);
    return received_.size();
}

std::size_t ReaderSim::receivedCount(std::uint16_t code) const {
    QMutexLocker lock(&mutex_);
    return static_cast<std::size_t>(std::count_if(
        received_.begin(), received_.end(), [code](const auto& f) { return f.code == code; }));
}

void ReaderSim::clearReceived() {
    QMutexLocker lock(&mutex_);
    received_.clear();
}

std::map<std::string, quint64> ReaderSim::sentPerUid() const {
    QMutexLocker lock(&mutex_);
    return perUid_;
}

} // namespace kelta::sim
