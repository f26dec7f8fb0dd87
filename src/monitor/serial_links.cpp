#include "monitor/serial_links.h"

#include "platform/clock.h"
#include "platform/serial_device_map.h"
#include "platform/timings.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>

namespace kelta::monitor {

namespace {

const QString kLineSettings = QStringLiteral("115200,n,8,1");

} // namespace

SerialLinks::SerialLinks(FrameHandler onFrame) : onFrame_(std::move(onFrame)) {
    for (int n = 1; n < kSlotCount; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        s.assembler =
            std::make_unique<SerialFrameAssembler>([this, n](std::span<const std::uint8_t> f) {
                Slot& slot = slots_[static_cast<std::size_t>(n)];
                // The run is ending: what is still held goes with the closing port.
                if (!keepGoing()) return;
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

void SerialLinks::setPortChecked(int n, bool checked) {
    if (n < 1 || n >= kSlotCount) return;
    slots_[static_cast<std::size_t>(n)].checked = checked;
}

bool SerialLinks::portChecked(int n) const {
    if (n < 1 || n >= kSlotCount) return false;
    return slots_[static_cast<std::size_t>(n)].checked;
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

std::size_t SerialLinks::inboxBytes(int n) const {
    if (n < 1 || n >= kSlotCount) return 0;
    return slots_[static_cast<std::size_t>(n)].inbox.size();
}

std::uint64_t SerialLinks::purgedBytes(int n) const {
    if (n < 1 || n >= kSlotCount) return 0;
    return slots_[static_cast<std::size_t>(n)].purged;
}

std::uint64_t SerialLinks::purgedBytes() const {
    return purgedTotal_;
}

int SerialLinks::lostCount(int n) const {
    if (n < 1 || n >= kSlotCount) return 0;
    return slots_[static_cast<std::size_t>(n)].lost;
}

int SerialLinks::reopenCount(int n) const {
    if (n < 1 || n >= kSlotCount) return 0;
    return slots_[static_cast<std::size_t>(n)].reopened;
}

bool SerialLinks::usable(int n) const {
    const Slot& s = slots_[static_cast<std::size_t>(n)];
    return s.open && s.handle && s.handle->isOpen();
}

LinkCounters& SerialLinks::counters(int n) {
    return slots_[static_cast<std::size_t>(n >= 1 && n < kSlotCount ? n : 0)].counters;
}

void SerialLinks::appendHealth(std::vector<LinkHealth>& out) const {
    for (int n = 1; n <= kHighestPort; ++n) {
        const Slot& s = slots_[static_cast<std::size_t>(n)];
        if (!s.wanted) continue;
        LinkHealth h;
        h.name = QStringLiteral("COM") + QString::number(n);
        h.state = usable(n) ? LinkHealth::State::Open : LinkHealth::State::Lost;
        s.counters.fill(h);
        h.bytesDiscarded = s.purged;
        out.push_back(std::move(h));
    }
}

void SerialLinks::OpenSerialLinks() {
    purgedTotal_ = 0;
    lastReopenCheck_ = platform::tickMs();
    for (int n = 1; n < kSlotCount; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        s.assembler->reset();
        s.inbox.clear();
        s.purged = 0;
        s.resetPending = false;
        s.wanted = false;
        s.lost = 0;
        s.reopened = 0;
        s.counters.clear();
    }

    for (int n = 1; n <= kHighestPort; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        s.open = false;
        if (!s.checked) continue;
        s.wanted = true;
        s.viaMap = !platform::mappedDevicePathFor(n).isEmpty();
        openSlot(n, platform::devicePathFor(n));
    }
}

bool SerialLinks::openSlot(int n, const QString& devicePath) {
    Slot& s = slots_[static_cast<std::size_t>(n)];
    auto port = std::make_unique<platform::SerialPort>();
    if (!port->open(devicePath)) return false;

    port->setQueueSizes(kDriverQueueBytes, kDriverQueueBytes);
    port->purge(platform::Purge::Both);
    // Without the settings found at opening the port could not be given back as it was:
    // such a port is not used.
    s.saved = port->saveState();
    if (!s.saved) return false;
    port->applyLineSettings(kLineSettings); // also sets reads that never wait
    port->purge(platform::Purge::Both);
    s.handle = std::move(port);
    s.open = true;
    s.emptyWakeups = 0;
    // A new device: nothing of the old one's partial frame continues here.
    s.assembler->reset();
    s.inbox.clear();
    s.resetPending = false;
    s.notifier = std::make_unique<QSocketNotifier>(s.handle->nativeHandle(), QSocketNotifier::Read);
    QObject::connect(s.notifier.get(), &QSocketNotifier::activated, s.notifier.get(),
                     [this, n] { onReadable(n); });
    if (n > highestSerialPort_) highestSerialPort_ = n;
    return true;
}

void SerialLinks::loseSlot(int n) {
    Slot& s = slots_[static_cast<std::size_t>(n)];
    if (!s.open && !s.handle) return;
    // This may run inside the notifier's own signal: it is disabled now and deleted later,
    // before its descriptor number can be given to another file.
    if (s.notifier) {
        s.notifier->setEnabled(false);
        s.notifier->disconnect();
        s.notifier.release()->deleteLater();
    }
    // What was read before the loss stays in the inbox for the next poll.
    if (s.handle) s.handle->close();
    s.handle.reset();
    s.open = false;
    s.saved.reset();
    ++s.lost;
}

int SerialLinks::reopenLostPorts() {
    int opened = 0;
    for (int n = 1; n <= kHighestPort; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        if (!s.wanted) continue;
        if (usable(n)) {
            // The map entry now names another device that is there (the adapter came back
            // under a new node while the old one lingers): the old one gets its settings back
            // and the port follows the entry.
            const QString now = s.viaMap ? platform::mappedDevicePathFor(n) : QString();
            if (now.isEmpty() || !QFileInfo::exists(now) || s.handle->isDevice(now)) continue;
            s.handle->purge(platform::Purge::Both);
            if (s.saved) s.handle->restoreState(*s.saved);
            loseSlot(n);
        }
        // A port that came through a map entry comes back only through it: without the entry
        // the name would fall back to a fixed port that is some other line.
        QString path = platform::mappedDevicePathFor(n);
        if (path.isEmpty()) {
            if (s.viaMap) continue;
            path = platform::devicePathFor(n);
        }
        if (!openSlot(n, path)) continue;
        s.viaMap = s.viaMap || !platform::mappedDevicePathFor(n).isEmpty();
        ++s.reopened;
        ++opened;
    }
    return opened;
}

void SerialLinks::closeSlot(Slot& s) {
    // The notifier goes before its descriptor.
    s.notifier.reset();
    s.inbox.clear();
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
        s.wanted = false;
    }
}

void SerialLinks::WriteSerialLinks(std::span<const std::uint8_t> frame) {
    for (int n = 1; n <= highestSerialPort_ && n < kSlotCount; ++n) {
        if (!usable(n)) continue;
        Slot& s = slots_[static_cast<std::size_t>(n)];
        s.handle->purge(platform::Purge::Both);
        s.inbox.clear();
        s.handle->write(frame);
    }
}

std::size_t SerialLinks::drain(int n) {
    if (!usable(n)) return 0;
    Slot& s = slots_[static_cast<std::size_t>(n)];
    std::size_t total = 0;
    for (;;) {
        const std::optional<int> queued = s.handle->queuedInput();
        if (!queued) {
            // The device failed or hung up (pulled out): closed, and looked for again.
            loseSlot(n);
            break;
        }
        if (*queued <= 0) break;
        const auto bytes = s.handle->read(static_cast<std::size_t>(*queued));
        if (!bytes) {
            loseSlot(n);
            break;
        }
        if (bytes->empty()) break;
        if (s.inbox.size() + bytes->size() > kMaxBufferedInput) {
            // A flood no line can deliver: what is held goes, and is counted.
            s.purged += s.inbox.size();
            purgedTotal_ += s.inbox.size();
            s.inbox.clear();
            s.resetPending = true;
        }
        s.inbox.insert(s.inbox.end(), bytes->begin(), bytes->end());
        total += bytes->size();
    }
    if (total > 0) {
        s.emptyWakeups = 0;
        if (s.notifier && !s.notifier->isEnabled()) s.notifier->setEnabled(true);
    }
    return total;
}

void SerialLinks::onReadable(int n) {
    const std::size_t read = drain(n);
    // A device that hung up was closed by the drain; what it held before is delivered too.
    if (delivering_) deliver(n);
    if (read > 0 || !usable(n)) return;
    Slot& s = slots_[static_cast<std::size_t>(n)];
    if (s.notifier && ++s.emptyWakeups > kMaxEmptyWakeups) s.notifier->setEnabled(false);
}

void SerialLinks::startDelivering(DecodeMode mode) {
    pollMode_ = mode;
    delivering_ = true;
    for (int n = 1; n <= kHighestPort; ++n) deliver(n);
}

void SerialLinks::drainResting() {
    for (int n = 1; n <= kHighestPort; ++n) {
        Slot& s = slots_[static_cast<std::size_t>(n)];
        if (!usable(n) || !s.notifier || s.notifier->isEnabled()) continue;
        drain(n);
        if (delivering_) deliver(n);
    }
}

bool SerialLinks::deliver(int n) {
    Slot& s = slots_[static_cast<std::size_t>(n)];
    if (s.resetPending) {
        s.assembler->reset();
        s.resetPending = false;
    }
    // A partial frame from the previous bytes of this port is kept and completed by these;
    // only one silent for too long is dropped (the reader was reset in the middle).
    s.assembler->expire(platform::tickMs());
    if (s.inbox.empty()) return false;
    // Taken out first: a handler further on may read the ports again, appending to a fresh
    // inbox.
    std::vector<std::uint8_t> bytes;
    bytes.swap(s.inbox);
    s.frameDone = false;
    s.assembler->feed(bytes, platform::tickMs());
    const bool result = s.frameDone ? s.frameResult : true;
    // The buffer goes back for the next read when nothing came meanwhile.
    if (s.inbox.empty()) {
        bytes.clear();
        s.inbox.swap(bytes);
    }
    return result;
}

void SerialLinks::drainSerialPorts() {
    const int highest = std::min(highestSerialPort_, kHighestPort);
    for (int n = 1; n <= highest; ++n) drain(n);
}

bool SerialLinks::PollSerialLink(DecodeMode mode, int& pollCursor) {
    if (platform::ticksSince(lastReopenCheck_) >= timing::scaled(timing::kSerialReopenCheckMs)) {
        lastReopenCheck_ = platform::tickMs();
        reopenLostPorts();
    }
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
    pollMode_ = mode;

    auto anything = [&] {
        for (int n = 1; n <= highest; ++n)
            if (!slots_[static_cast<std::size_t>(n)].inbox.empty()) return true;
        return false;
    };
    // Nothing held: wait a little for the next bytes, as a visit of a port always did.
    for (int attempt = 0; attempt < timing::kSerialPollAttempts; ++attempt) {
        drainSerialPorts();
        if (anything() || !keepGoing()) break;
        platform::sleepMs(timing::kSerialPollSleepMs);
    }

    bool received = false;
    bool result = false;
    for (int i = 0; i < highest && keepGoing(); ++i) {
        const int n = (found - 1 + i) % highest + 1;
        Slot& s = slots_[static_cast<std::size_t>(n)];
        // A port lost in this poll still hands on what it had read.
        if (!usable(n) && s.inbox.empty()) continue;
        const bool any = !s.inbox.empty();
        const bool r = deliver(n);
        if (!any) continue;
        received = true;
        result = r;
    }
    return received && result;
}

} // namespace kelta::monitor
