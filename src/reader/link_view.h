#pragma once
// What the configuration link and the tag executors need from the window, without the window:
// the link settings as the controls hold them at the moment the link acts, and the view that
// shows the texts, traces and busy states of a command. The window implements the view; a
// program or a test without a window can implement it too.

#include "platform/progress.h"

#include <QString>
#include <memory>

namespace kelta::reader {

// The three kinds of link, chosen by the active link page. Any page other than the two TCP
// pages counts as the serial page.
enum class LinkKind { Serial, TcpServer, TcpClient };

struct LinkSettings {
    LinkKind kind = LinkKind::Serial;
    QString comText;    // serial port name as typed ("COM7")
    QString baudText;   // line settings ("115200,n,8,1")
    QString serverIp;   // the reader the outgoing link connects to, as typed
    QString serverPort; // its port, as typed
    QString clientIp;   // the reader the listening link accepts, as typed
    QString listenPort; // the listening port, as typed
    // The reader ID of the active link page: -1 when its ID box is unchecked or holds no
    // number. Only a value above 0 goes into a frame.
    int readerId = -1;
    bool beep = false; // the beep switch
    // A configuration page (Set Reader or Set TAG) is shown: only then does the listening
    // link take the readers that connect; otherwise they belong to the monitoring links.
    bool settingPageShown = false;
};

// The two message panels: the reader page's and the tag page's.
enum class MessagePanel { Reader, Tag };

// The trace fields of an exchange.
enum class TraceField {
    ReaderSend, // the reader request
    TagSend,    // the tag command
    TagRecv,    // the tag answer, header and data
    RecvHeader, // the answer's header
    RecvData,   // the answer's data
};

class LinkView {
public:
    LinkView() = default;
    virtual ~LinkView() { *alive_ = false; }
    LinkView(const LinkView&) = delete;
    LinkView& operator=(const LinkView&) = delete;

    // Turns false when the view is destroyed, for guards that may outlive it.
    std::shared_ptr<const bool> lifetime() const { return alive_; }

    // False once the window behind the view has gone: the link then stops its work.
    virtual bool present() const = 0;
    // Read again at every step, as the user may change the controls while an exchange waits.
    virtual LinkSettings linkSettings() const = 0;

    // A panel shows a text; its hint is the text it goes back to when a command ends.
    virtual void setMessage(MessagePanel panel, const QString& text) = 0;
    virtual void setMessageHint(MessagePanel panel, const QString& hint) = 0;
    virtual QString messageHint(MessagePanel panel) const = 0;

    virtual void setTrace(TraceField field, const QString& text) = 0;
    virtual void setTraceHint(TraceField field, const QString& hint) = 0;
    virtual void clearTraces() = 0; // every trace field

    // The link opened shows its kind, and the port it really uses where the text was no port.
    virtual void showLinkKind(LinkKind kind) = 0;
    virtual void showServerPort(int port) = 0;
    virtual void showListenPort(int port) = 0;

    // A command runs: controls disabled, the wait cursor shown; and the status text cleared
    // at its end.
    virtual void setControlsEnabled(bool enabled) = 0;
    virtual void setWaitCursor(bool on) = 0;
    virtual void clearStatus() = 0;

    // An operation of several exchanges shows how far it has come, until endProgress().
    virtual void showProgress(const Progress& progress) { (void)progress; }
    virtual void endProgress() {}
    // The user asked to stop the operation in progress (Cancel, Esc). The operation looks
    // between its exchanges, never inside one; endProgress() forgets the request.
    virtual bool cancelRequested() const { return false; }

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The wait cursor for the time of one command, put back on every way out: also when the link
// went away meanwhile, as long as the view is still there.
class WaitCursor {
public:
    explicit WaitCursor(LinkView& view) : view_(&view), viewAlive_(view.lifetime()) {
        view.setWaitCursor(true);
    }
    ~WaitCursor() {
        if (*viewAlive_) view_->setWaitCursor(false);
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    LinkView* view_;
    std::shared_ptr<const bool> viewAlive_;
};

// The progress of one operation of `total` steps, ended on every way out (also when the link
// went away meanwhile, as long as the view is still there).
class StepProgress {
public:
    StepProgress(LinkView& view, long long total)
        : view_(&view), viewAlive_(view.lifetime()), total_(total) {}
    ~StepProgress() {
        if (*viewAlive_) view_->endProgress();
    }
    StepProgress(const StepProgress&) = delete;
    StepProgress& operator=(const StepProgress&) = delete;

    // Before step n (1 ... total): shows `text` with n - 1 steps done. False when the user
    // has cancelled: the operation stops before this step.
    bool step(long long n, const QString& text) {
        if (cancelled()) return false;
        view_->showProgress({text, n - 1, total_, false});
        return !cancelled();
    }
    // Every step done: 100 %.
    void finish(const QString& text) {
        if (*viewAlive_) view_->showProgress({text, total_, total_, true});
    }
    bool cancelled() const { return !*viewAlive_ || view_->cancelRequested(); }
    long long total() const { return total_; }

private:
    LinkView* view_;
    std::shared_ptr<const bool> viewAlive_;
    long long total_;
};

} // namespace kelta::reader
