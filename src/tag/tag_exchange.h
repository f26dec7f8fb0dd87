#pragma once
// The executors of the "Set TAG" page: a tag command is written through the reader on the
// configuration link, then the reader's acknowledgement and (for reads) the tag's answer are
// awaited for up to 30 seconds with a countdown in the tag panel. Also the exchange of one
// exciter frame on the serial link. The texts go to the link's view.
//
// Everything runs on the window's thread; the waits pump the window's events and give up as
// soon as the program is closing or the view's window (or the link, or this object) has gone.

#include "reader/link_view.h"
#include "tag/proto/tag_answer.h"

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace kelta::reader {
class ReaderLink;
}

namespace kelta::tag {

class TagExchange {
public:
    using BeepFn = std::function<void(int hz, int ms)>;

    // Works on the link and shows its texts in the link's view.
    explicit TagExchange(reader::ReaderLink& link);
    ~TagExchange();
    TagExchange(const TagExchange&) = delete;
    TagExchange& operator=(const TagExchange&) = delete;

    // The closing beep; by default the tone, when the settings' beep switch is on.
    void setBeep(BeepFn beep) { beep_ = std::move(beep); }
    void beep(int hz, int ms) {
        if (beep_) beep_(hz, ms);
    }
    reader::ReaderLink* link() const { return link_.data(); }
    // The answer store of the link (the last accepted answer).
    std::span<const std::uint8_t> answerData() const;

    // One receive attempt of up to 600 ms: true when an answer frame with the code was
    // accepted (answerData / answerLength then hold it, the trace edits show it).
    bool ReceiveTagAnswer(std::uint16_t code);

    // A command that changes a tag. freshLink opens a new link and closes it afterwards;
    // answerMode > 1 waits (resending every pass) for the reader's answer. True when the frame
    // was written, whatever the answer.
    bool RunTagSet(bool freshLink, std::uint16_t code, int answerMode, int count,
                   const std::uint8_t* payload);
    bool RunTagSet(bool freshLink, std::uint16_t code, int answerMode,
                   std::span<const std::uint8_t> payload);
    // A command that reads from a tag: the reader's acknowledgement, then the tag's answer,
    // which stays in answerData. True when the frame was written.
    bool RunTagGet(bool freshLink, std::uint16_t code, int count, const std::uint8_t* payload);
    bool RunTagGet(bool freshLink, std::uint16_t code, std::span<const std::uint8_t> payload);

    // Whether the last RunTagSet / RunTagGet got the answer it waited for (RunTagGet: the
    // tag's answer); false after a wait that ran out or a frame that was not written.
    bool answered() const { return answered_; }

    // One exciter frame around `payload` on the serial port of the link; `position` is set to
    // the number of answer bytes collected. True for a complete answer with a right checksum.
    bool ExchangeExciterFrame(std::span<const std::uint8_t> payload, int& position);

    // Whether this object still exists, with what the checks after a pump need, held by every
    // running exchange: the checks read only this, never the object that may have gone.
    struct Life {
        bool on = true;
        QPointer<reader::ReaderLink> link;
        reader::LinkView* view = nullptr;
        std::shared_ptr<const bool> viewAlive;
    };
    using Alive = std::shared_ptr<Life>;

private:
    bool viewHere() const;
    static bool goOn(const Alive& alive);
    void begin();
    void finish(bool written);
    void countdown(std::uint32_t start);
    int secondsPassed(std::uint32_t start) const;
    bool pollOnce(); // one read of the active link into the assembler; false: no link
    void storeAnswer();
    void waitForSetAnswer(std::uint16_t code, std::span<const std::uint8_t> payload, int readerId);
    void waitForGetAnswers(std::uint16_t code);
    bool run(bool freshLink, std::uint16_t code, std::span<const std::uint8_t> payload,
             const std::function<void(int readerId)>& wait);

    QPointer<reader::ReaderLink> link_;
    reader::LinkView* view_;
    std::shared_ptr<const bool> viewAlive_;
    BeepFn beep_;
    TagAnswerAssembler assembler_;
    bool answered_ = false;
    Alive alive_ = std::make_shared<Life>();
};

} // namespace kelta::tag
