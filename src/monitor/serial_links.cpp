#include "monitor/serial_links.h"

#include "platform/clock.h"
#include "platform/timings.h"

#include <QCheckBox>
#include <algorithm>
#include <cstdio>

namespace kelta::monitor {

namespace {

const QString kLineSettings = QStringLiteral("115200,n,8,1");

} // namespace

SerialLinks::SerialLinks(FrameHandler onFrame, Pump pump)
    : onFrame_(std::move(onFrame)), pump_(std::move(pump)) {
    for (int n = 1; n < kSlotCount; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        s.assembler =
            std::make_unique<SerialFrameAssembler>([this, n](std::span<const std::uint8_t> f) {
                Slot& slot = slots_[static_cast<std::size_t>(n)];
                const bool r = onFrame_ ? onFrame_(pollMode_, portName(n), f) : false;
                slot.frameDone = true;
                slot.frameResult = r;
            });
    }
}

SerialLinks::~SerialLinks() {
    // Ports still open at the end (a run cut short) get their settings back.
    CloseSerialLinks(true);
}

std::string SerialLinks::portName(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

void SerialLinks::setCheckBox(int n, QCheckBox* box) {
    if (n < 1 || n >= kSlotCount) return;
    slots_[static_cast<std::size_t>(n)].box = box;
}

QCheckBox* SerialLinks::checkBox(int n) const {
    if (n < 1 || n >= kSlotCount) return nullptr;
    return slots_[static_cast<std::size_t>(n)].box.data();
}

bool SerialLinks::isOpen(int n) const {
    return n >= 1 && n < kSlotCount && usable(n);
}

platform::SerialPort* SerialLinks::port(int n) const {
    if (n < 1 || n >= kSlotCount) return nullptr;
    return slots_[static_cast<std::size_t>(n)].handle.get();
}

std::size_t SerialLinks::pendingBytes(int n) const {
    if (n < 1 || n >= kSlotCount) return 0;
    return slots_[static_cast<std::size_t>(n)].assembler->pending();
}

bool SerialLinks::usable(int n) const {
    const Slot& s = slots_[static_cast<std::size_t>(n)];
    return s.open && s.handle && s.handle->isOpen();
}

void SerialLinks::pump() {
    if (pump_) pump_();
}

void SerialLinks::OpenSerialLinks() {
    for (int n = 1; n < kSlotCount; ++n) slots_[static_cast<std::size_t>(n)].assembler->reset();

    for (int n = 1; n <= kHighestPort; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        s.open = false;
        if (!s.box || !s.box->isChecked()) continue;
        auto port = std::make_unique<platform::SerialPort>();
        if (!port->open(n)) continue;

        port->setQueueSizes(kDriverQueueBytes, kDriverQueueBytes);
        port->purge(platform::Purge::Both);
        // Without the settings found at opening the port could not be given back as it was:
        // such a port is not used.
        s.saved = port->saveState();
        if (!s.saved) continue;
        port->applyLineSettings(kLineSettings); // also sets reads that never wait
        port->purge(platform::Purge::Both);
        s.handle = std::move(port);
        s.open = true;
        highestSerialPort_ = n;
    }
}

void SerialLinks::closeSlot(Slot& s) {
    if (s.handle) s.handle->close();
    s.handle.reset();
    s.open = false;
}

void SerialLinks::CloseSerialLinks(bool restore) {
    if (restore) {
        for (int n = 1; n <= kHighestPort; ++n) {
            Slot& s = slots_[static_cast<std::size_t>(n)];
            if (!s.open || !s.handle) continue;
            s.handle->purge(platform::Purge::Both);
            if (s.saved) s.handle->restoreState(*s.saved);
            closeSlot(s);
        }
    }
    for (int n = 1; n <= kHighestPort; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        if (s.handle) closeSlot(s);
        s.open = false;
        s.saved.reset();
    }
}

void SerialLinks::WriteSerialLinks(std::span<const std::uint8_t> frame) {
    for (int n = 1; n <= highestSerialPort_ && n < kSlotCount; ++n) {
        if (!usable(n)) continue;
        slots_[static_cast<std::size_t>(n)].handle->purge(platform::Purge::Both);
        pump();
        // A nested handler may not close ports, but a vanished device closes nothing either:
        // look again before writing.
        if (!usable(n)) continue;
        slots_[static_cast<std::size_t>(n)].handle->write(frame);
        pump();
    }
}

bool SerialLinks::PollSerialLink(DecodeMode mode, int& pollCursor) {
    const int highest = std::min(highestSerialPort_, kHighestPort);
    ++pollCursor;
    if (pollCursor > highest) pollCursor = 1;
    int found = 0;
    for (int n = pollCursor; n <= highest && !found; ++n)
        if (usable(n)) found = n;
    for (int n = 1; n <= highest && !found; ++n)
        if (usable(n)) found = n;
    if (!found) return false;
    pollCursor = found;

    Slot& s = slots_[static_cast<std::size_t>(found)];
    // A partial frame from the previous poll of this port is kept and completed by this one;
    // only one silent for too long is dropped (the reader was reset in the middle of it).
    s.assembler->expire(platform::tickMs());
    pollMode_ = mode;

    std::size_t receivedTotal = 0;
    bool result = false;
    for (int attempt = 0; attempt < timing::kSerialPollAttempts; ++attempt) {
        pump();
        if (!usable(found)) break;
        const std::optional<int> queued = s.handle->queuedInput();
        if (!queued) {
            platform::sleepMs(timing::kSerialPollSleepMs);
            continue;
        }
        if (*queued > kMaxQueuedInput) {
            s.assembler->reset();
            s.handle->purge(platform::Purge::Input);
            continue;
        }
        if (*queued == 0) {
            platform::sleepMs(timing::kSerialPollSleepMs);
            continue;
        }
        result = true;
        const auto bytes = s.handle->read(static_cast<std::size_t>(*queued));
        std::size_t frameLength = 0;
        bool completed = false;
        if (bytes) {
            receivedTotal += bytes->size();
            s.frameDone = false;
            s.assembler->feed(*bytes, platform::tickMs());
            frameLength = s.assembler->lastLengthField();
            if (s.frameDone) {
                result = s.frameResult;
                completed = !s.assembler->assembling();
            }
        }
        // One frame's worth of bytes read in this poll, or the frame begun in an earlier poll
        // completed with nothing left over.
        if (frameLength > 0 && receivedTotal >= frameLength + 3) break;
        if (completed) break;
    }
    return result;
}

} // namespace kelta::monitor
