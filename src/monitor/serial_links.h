#pragma once
// The serial ports of a monitoring run: one reader on each port chosen with the chkCOM check
// boxes, opened at Start, restored and closed at the end of the run, polled one port per loop
// pass in turn.

#include "monitor/proto/frame_assembler.h"
#include "monitor/proto/tag_record.h"
#include "platform/serial_port.h"

#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class QCheckBox;

namespace kelta::monitor {

class SerialLinks {
public:
    // Slots 1 ... 32, indexed by the port number; slot 0 is never used.
    static constexpr int kSlotCount = 33;
    static constexpr int kHighestPort = 32;
    // More queued input than this is discarded unread.
    static constexpr int kMaxQueuedInput = 1024;
    static constexpr int kDriverQueueBytes = 2048;

    // Receives one complete report frame (from the start byte on) with the decoding mode and
    // the port number as two digits; returns what the report splitter returned.
    using FrameHandler = std::function<bool(DecodeMode mode, std::string_view portName,
                                            std::span<const std::uint8_t> frame)>;
    // "Let the window process its messages."
    using Pump = std::function<void()>;

    explicit SerialLinks(FrameHandler onFrame, Pump pump = {});
    ~SerialLinks();
    SerialLinks(const SerialLinks&) = delete;
    SerialLinks& operator=(const SerialLinks&) = delete;

    // The check box of slot n (1 ... 32); none leaves the port unused.
    void setCheckBox(int n, QCheckBox* box);
    QCheckBox* checkBox(int n) const;

    // Opens and configures every checked port ("115200,n,8,1"); ports that fail are skipped.
    void OpenSerialLinks();
    // With restore, each port gets back the settings it had before the run; every port is
    // closed either way.
    void CloseSerialLinks(bool restore);
    // Writes one frame to every open port, each purged first (unread input is discarded).
    void WriteSerialLinks(std::span<const std::uint8_t> frame);
    // Serves the next open port after pollCursor (which it advances). False when no port is
    // open or nothing was read; otherwise true, or the handler's result for the last frame
    // completed.
    bool PollSerialLink(DecodeMode mode, int& pollCursor);

    // The number of the highest port opened in this run, 0 when none.
    int highestSerialPort() const { return highestSerialPort_; }
    void setHighestSerialPort(int n) { highestSerialPort_ = n; }

    bool isOpen(int n) const;
    // The port of slot n while it is open (tests and diagnostics).
    platform::SerialPort* port(int n) const;
    // Bytes of a partial frame held for port n.
    std::size_t pendingBytes(int n) const;

    static std::string portName(int n); // "01" ... "32"

private:
    struct Slot {
        QPointer<QCheckBox> box;
        std::unique_ptr<platform::SerialPort> handle;
        bool open = false;
        std::optional<platform::PortState> saved;
        std::unique_ptr<SerialFrameAssembler> assembler;
        // Set by the frame handler callback while a poll feeds this slot.
        bool frameDone = false;
        bool frameResult = false;
    };

    bool usable(int n) const;
    void pump();
    void closeSlot(Slot& s);

    FrameHandler onFrame_;
    Pump pump_;
    std::array<Slot, kSlotCount> slots_;
    int highestSerialPort_ = 0;
    DecodeMode pollMode_ = DecodeMode::Live;
};

} // namespace kelta::monitor
