#pragma once
// The serial ports of a monitoring run: one reader on each port chosen for the run, opened at
// its start, restored and closed at its end.
//
// Every open port is drained as its bytes arrive: a socket notifier per descriptor reads what
// the driver holds into the port's inbox whenever the event loop runs, so a full line never
// overflows the driver's queue while the window is busy, and a silent port costs nothing.
// While a run delivers (startDelivering), the notifier assembles what it read at once and
// hands on every complete frame; before that the bytes wait in the inbox. Only a flood no line
// can deliver (more than kMaxBufferedInput bytes held unassembled) is thrown away, and it is
// counted. A poll (PollSerialLink) does the same for every port at once, for callers without
// an event loop of their own.
//
// A port whose device goes away during the run (a USB adapter pulled: the device hangs up or
// fails) is closed after what it held was read, and about once a second the run (or a poll)
// looks for its device again; when the
// map entry's device is there and opens, the port is configured and read as at Start. A
// checked port that did not open at Start is looked for the same way.

#include "monitor/link_health.h"
#include "monitor/proto/frame_assembler.h"
#include "monitor/proto/tag_record.h"
#include "platform/serial_port.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QSocketNotifier;

namespace kelta::monitor {

class SerialLinks {
public:
    // Slots 1 ... 32, indexed by the port number; slot 0 is never used.
    static constexpr int kSlotCount = 33;
    static constexpr int kHighestPort = 32;
    // Bytes a port may hold unassembled; beyond it the held bytes are purged and counted.
    // A line delivers 11,520 bytes a second: this is more than five seconds of it.
    static constexpr std::size_t kMaxBufferedInput = 64 * 1024;
    static constexpr int kDriverQueueBytes = 2048;

    // Receives one complete report frame (from the start byte on) with the decoding mode and
    // the port number as two digits; returns what the report splitter returned.
    using FrameHandler = std::function<bool(DecodeMode mode, std::string_view portName,
                                            std::span<const std::uint8_t> frame)>;
    // False once the run is to end: the frames still held are not delivered.
    using KeepGoing = std::function<bool()>;

    explicit SerialLinks(FrameHandler onFrame);
    ~SerialLinks();
    SerialLinks(const SerialLinks&) = delete;
    SerialLinks& operator=(const SerialLinks&) = delete;

    // Whether port n (1 ... 32) is opened by the next OpenSerialLinks.
    void setPortChecked(int n, bool checked);
    bool portChecked(int n) const;

    // Opens and configures every checked port ("115200,n,8,1"); ports that fail are skipped
    // here and looked for again during the run.
    void OpenSerialLinks();
    // With restore, each port gets back the settings it had before the run; every port is
    // closed either way.
    void CloseSerialLinks(bool restore);
    // Writes one frame to every open port, each purged first (input received and not yet
    // assembled is discarded).
    void WriteSerialLinks(std::span<const std::uint8_t> frame);
    // Delivers the complete frames received on every open port, starting with the next open
    // port after pollCursor (which it advances). While nothing has arrived on any port it
    // waits up to timing::kSerialPollAttempts steps of timing::kSerialPollSleepMs, reading the
    // ports meanwhile. False when no port is open or nothing was received;
    // otherwise true, or the handler's result for the last frame completed.
    bool PollSerialLink(DecodeMode mode, int& pollCursor);
    // Reads what the driver holds on every open port into its inbox (what the notifiers do).
    void drainSerialPorts();
    // Tries to open every checked port of the run that is not open (its device lost, or not
    // there at Start); the polls call it about once a second. The count opened.
    int reopenLostPorts();
    void setKeepGoing(KeepGoing fn) { keepGoing_ = std::move(fn); }

    // From now on every notification delivers the complete frames it read, in `mode`; what
    // the inboxes already hold is delivered first.
    void startDelivering(DecodeMode mode);
    void stopDelivering() { delivering_ = false; }
    bool delivering() const { return delivering_; }
    // Ports whose notifier rests (it found nothing several times) are read once more.
    void drainResting();

    // The counters of port n's records (the frame handler counts into them).
    LinkCounters& counters(int n);
    // One entry per port checked for the run: "COM3", open or lost, its counters.
    void appendHealth(std::vector<LinkHealth>& out) const;

    // The number of the highest port opened in this run, 0 when none.
    int highestSerialPort() const { return highestSerialPort_; }
    void setHighestSerialPort(int n) { highestSerialPort_ = n; }

    bool isOpen(int n) const;
    // The port of slot n while it is open (tests and diagnostics).
    platform::SerialPort* port(int n) const;
    // Bytes of a partial frame held for port n.
    std::size_t pendingBytes(int n) const;
    // Received bytes of port n not yet assembled.
    std::size_t inboxBytes(int n) const;
    // Bytes purged as a flood since the port was opened, and over all ports of the run.
    std::uint64_t purgedBytes(int n) const;
    std::uint64_t purgedBytes() const;
    // Times port n was lost during the run, and opened again after that.
    int lostCount(int n) const;
    int reopenCount(int n) const;

    static std::string portName(int n); // "01" ... "32"

private:
    struct Slot {
        bool checked = false;
        std::unique_ptr<platform::SerialPort> handle;
        bool open = false;
        std::optional<platform::PortState> saved;
        std::unique_ptr<SerialFrameAssembler> assembler;
        std::unique_ptr<QSocketNotifier> notifier;
        std::vector<std::uint8_t> inbox;
        std::uint64_t purged = 0;
        // The held bytes were purged: the partial frame has lost its continuation.
        bool resetPending = false;
        // Notifications that found nothing to read, in a row (a hung-up device signals
        // readable forever; after a few the notifier rests and the polls look instead).
        int emptyWakeups = 0;
        // Set by the frame handler callback while a poll feeds this slot.
        bool frameDone = false;
        bool frameResult = false;
        // Checked at Start: the run keeps looking for its device while it is not open.
        bool wanted = false;
        // Its device was named by a map entry at Start: only a map entry brings it back.
        bool viaMap = false;
        int lost = 0;
        int reopened = 0;
        LinkCounters counters;
    };

    bool usable(int n) const;
    bool keepGoing() const { return !keepGoing_ || keepGoing_(); }
    // Assembles what port n's inbox holds and delivers every complete frame; false when the
    // inbox was empty, else the handler's result for the last frame (true when none ended).
    bool deliver(int n);
    void closeSlot(Slot& s);
    // Opens and configures port n on its device; false leaves the slot closed.
    bool openSlot(int n, const QString& devicePath);
    // The device of port n went away: closed without restoring, to be looked for again.
    void loseSlot(int n);
    // Reads what the driver holds on port n into its inbox; the count read.
    std::size_t drain(int n);
    // The notifier of port n: drains it.
    void onReadable(int n);
    static constexpr int kMaxEmptyWakeups = 3;

    FrameHandler onFrame_;
    bool delivering_ = false;
    KeepGoing keepGoing_;
    std::array<Slot, kSlotCount> slots_;
    std::uint64_t purgedTotal_ = 0;
    int highestSerialPort_ = 0;
    std::uint32_t lastReopenCheck_ = 0;
    DecodeMode pollMode_ = DecodeMode::Live;
};

} // namespace kelta::monitor
