#pragma once
// One simulated reader: a tag population reported live at a rate, a stored tag log answered
// on request, answers to every reader request, a record of every frame received, and faults
// injected on purpose. Lives on one thread (its own or the caller's); the observers
// (stats(), received(), ...) may be called from any thread, everything else on the reader's.

#include "reader-sim/sim_frames.h"
#include "reader-sim/tag_population.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>

class QTimer;

namespace kelta::sim {

class SimTransport;
class TcpServerTransport;
class TcpClientTransport;
class PtyTransport;

enum class IdMode { AsRequest, Always, Never };

// How requests (frames with CRC) are answered.
struct AnswerMode {
    bool none = false;             // never answer
    int delayMs = 0;               // answer this long after the request arrived
    bool wrongCodeFirst = false;   // first an answer with code + 1, then the right one
    int splitGapMs = -1;           // >= 0: the answer in two writes, this gap between them
    IdMode id = IdMode::AsRequest; // reader ID field (flag 0x0800) in the answer
    bool extension = false;        // four extra header bytes (flag 0x0400)
};

enum class SplitMode { None, OneByte, RandomCuts };

// Faults on the outgoing stream of reports and log frames.
struct FaultOptions {
    int garbageEvery = 0; // garbage bytes before every k-th frame (0: never)
    int garbageLength = 5;
    bool garbageMayHoldStart = false; // garbage may contain the start byte 0x06
    SplitMode split = SplitMode::None;
    int splitGapMs = 0;     // pause between the pieces of a split frame
    int mergeCount = 0;     // >= 2: that many frames in one write
    int wrongTypeEvery = 0; // every k-th live frame has type 0x6041
    int resetEveryMs = 0;   // drop the connection periodically (0: never)
};

enum class LogPacing {
    PerRequest, // each tag-log request is answered with the next frame
    Stream,     // the first request gets the whole log, frame after frame
};

struct ReaderConfig {
    std::uint16_t readerId = 1;
    bool sendReaderId = true;   // flag 0x0800 on report frames
    bool sendExtension = false; // flag 0x0400 on report frames
    std::uint16_t liveType = kTypeLive;
    double rate = 0.0; // live report frames per second (0: none)
    PopulationOptions tags;
    int logRecords = 0;
    int logRecordsPerFrame = 9;
    std::uint16_t logFirstSequence = 1;
    LogPacing logPacing = LogPacing::PerRequest;
    std::uint32_t seed = 1;
    FaultOptions faults;
    AnswerMode answers;
    Bytes defaultAnswerData{0x00, 0x01, 0x02, 0x03};
};

struct SimStats {
    quint64 liveFramesSent = 0; // well-formed report frames fully handed to the line
    quint64 wrongTypeFramesSent = 0;
    quint64 logFramesSent = 0;
    quint64 logRecordsSent = 0;
    quint64 answersSent = 0; // answers with the right code
    quint64 wrongCodeAnswersSent = 0;
    quint64 framesReceived = 0;
    quint64 requestsReceived = 0; // frames with CRC
    quint64 badCrcRequests = 0;
    quint64 logRequestsReceived = 0;
    quint64 announcementsReceived = 0;
    quint64 garbageBytesSent = 0;
    quint64 bytesSent = 0;
    quint64 bytesReceived = 0;
    quint64 connections = 0;
    quint64 disconnections = 0;
};

class ReaderSim : public QObject {
    Q_OBJECT
public:
    // Answer data for a request; nullopt: no answer.
    using RequestHandler = std::function<std::optional<Bytes>(const ReceivedFrame&)>;
    // Whole frames to send back for a command without CRC (tag commands); empty: nothing.
    using CommandHandler = std::function<std::vector<Bytes>(const ReceivedFrame&)>;

    explicit ReaderSim(const ReaderConfig& config = {}, QObject* parent = nullptr);
    ~ReaderSim() override;

    // Lines (one at a time; each call replaces the previous line).
    bool listenTcp(quint16 port = 0);
    // On a loopback address other than 127.0.0.1 (127.0.0.0/8).
    bool listenTcp(quint16 port, const QString& address);
    quint16 tcpPort() const;
    void connectTcp(quint16 port, int autoReconnectMs = -1);
    // From a loopback address other than 127.0.0.1; false (nothing done) for another address.
    bool connectTcpFrom(const QString& localAddress, quint16 port, int autoReconnectMs = -1);
    // The local port of the outgoing connection, 0 when none.
    quint16 localTcpPort() const;
    void reconnectTcp();
    bool openPty(int comNumber);
    bool reopenPty(); // hang-up is over: a new pty under the same COM name
    QString ptySlavePath() const;
    QString comLinkPath() const;
    bool isPeerConnected() const;
    QString lineDescription() const;
    void stop(); // closes the line (and removes the COM link)

    // Behaviour.
    const ReaderConfig& config() const { return cfg_; }
    TagPopulation& population() { return population_; }
    void setRate(double framesPerSecond);
    void setLiveType(std::uint16_t type) { cfg_.liveType = type; }
    void setReportHeader(bool withReaderId, bool withExtension);
    void setReaderId(std::uint16_t id) { cfg_.readerId = id; }
    void setFaults(const FaultOptions& f);
    void setAnswerMode(const AnswerMode& m) { cfg_.answers = m; }
    void setAnswerModeFor(std::uint16_t code, const AnswerMode& m) { modes_[code] = m; }
    void setAnswer(std::uint16_t code, const Bytes& data) { answers_[code] = data; }
    void setRequestHandler(std::uint16_t code, RequestHandler h) { requestHandlers_[code] = h; }
    void setCommandHandler(std::uint16_t code, CommandHandler h) { commandHandlers_[code] = h; }
    // Sees every received byte first and returns the bytes left for the frame collector
    // (a device that shares the line, such as an exciter, takes its own frames out).
    using RawFilter = std::function<QByteArray(const QByteArray&)>;
    void setRawFilter(RawFilter f) { rawFilter_ = std::move(f); }
    void setLog(std::vector<LogEntry> entries);
    void restartLog() { logCursor_ = 0; }
    void setLogPacing(LogPacing p) { cfg_.logPacing = p; }
    const std::vector<LogEntry>& log() const { return log_; }
    void setSilent(bool silent); // nothing at all is written while silent
    bool isSilent() const { return silent_; }
    // Bytes still waiting in the reader: cut pieces not yet due, frames held for merging.
    bool holdsUnsent() const { return !queue_.empty() || !mergeBuf_.isEmpty(); }

    // Immediate actions.
    void sendLiveReports(int n);      // n report frames now, through the fault options
    void sendRaw(const Bytes& bytes); // bypasses the fault options
    void resetConnection();           // TCP reset / pty hang-up
    // Half a report frame, then the line is closed closeAfterMs later (immediately the
    // bytes could be thrown away with the line, before the peer read them).
    void cutMidFrame(bool withReset, int closeAfterMs = 100);

    // Observers (any thread).
    SimStats stats() const;
    std::vector<ReceivedFrame> received() const;
    std::size_t receivedCount() const;
    std::size_t receivedCount(std::uint16_t code) const;
    void clearReceived();
    std::map<std::string, quint64> sentPerUid() const; // UID hex -> live frames sent

signals:
    void frameReceived(quint16 code);
    void peerConnected();
    void peerDisconnected();

private:
    struct Chunk {
        QByteArray bytes;
        int delayMs = 0;
        std::function<void()> onWritten;
    };
    void attach(SimTransport* t);
    void detach();
    void onBytes(const QByteArray& b);
    void dispatch(const ReceivedFrame& f);
    void answerRequest(const ReceivedFrame& f);
    void answerLogRequest();
    void sendLogFrame();
    void tick();
    void emitLiveFrame();
    void emitFrame(Bytes frame, std::function<void()> onWritten);
    void enqueue(Chunk c);
    void scheduleDrain();
    void drain();
    void flushMerge();
    HeaderOptions reportHeader() const;

    ReaderConfig cfg_;
    TagPopulation population_;
    std::mt19937 rng_;
    std::unique_ptr<SimTransport> transport_;
    TcpServerTransport* server_ = nullptr;
    TcpClientTransport* client_ = nullptr;
    PtyTransport* pty_ = nullptr;
    FrameCollector collector_;

    std::map<std::uint16_t, AnswerMode> modes_;
    std::map<std::uint16_t, Bytes> answers_;
    std::map<std::uint16_t, RequestHandler> requestHandlers_;
    std::map<std::uint16_t, CommandHandler> commandHandlers_;
    RawFilter rawFilter_;

    std::vector<LogEntry> log_;
    std::size_t logCursor_ = 0;

    bool silent_ = false;
    QTimer* tickTimer_;
    QTimer* drainTimer_;
    QTimer* mergeTimer_;
    QTimer* resetTimer_;
    QElapsedTimer rateClock_;
    quint64 rateBase_ = 0; // live frames generated since rateClock_ started
    quint64 liveCounter_ = 0;
    quint64 frameCounter_ = 0;
    std::deque<Chunk> queue_;
    QByteArray mergeBuf_;
    std::vector<std::function<void()>> mergeDone_;
    int mergeFrames_ = 0;

    mutable QMutex mutex_; // guards the members below
    SimStats stats_;
    std::vector<ReceivedFrame> received_;
    std::map<std::string, quint64> perUid_;
};

} // namespace kelta::sim
