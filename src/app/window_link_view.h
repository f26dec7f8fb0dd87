#pragma once
// The window as the configuration link sees it: the link settings read from the controls, and
// the link's texts, traces and busy states shown on them.

#include "reader/link_view.h"

#include <QPointer>

namespace kelta {

class TfrmModule;

// The kind of the active page of pcSetReadMain: the two TCP pages, else the serial page.
reader::LinkKind activeLinkKind(const TfrmModule& w);
// The link settings as the controls hold them now.
reader::LinkSettings linkSettingsOf(const TfrmModule& w);

class WindowLinkView : public reader::LinkView {
public:
    explicit WindowLinkView(TfrmModule& window);
    ~WindowLinkView() override;

    bool present() const override { return !w_.isNull(); }
    reader::LinkSettings linkSettings() const override;

    void setMessage(reader::MessagePanel panel, const QString& text) override;
    void setMessageHint(reader::MessagePanel panel, const QString& hint) override;
    QString messageHint(reader::MessagePanel panel) const override;

    void setTrace(reader::TraceField field, const QString& text) override;
    void setTraceHint(reader::TraceField field, const QString& hint) override;
    void clearTraces() override;

    void showLinkKind(reader::LinkKind kind) override;
    void showServerPort(int port) override;
    void showListenPort(int port) override;

    void setControlsEnabled(bool enabled) override;
    void setWaitCursor(bool on) override;
    void clearStatus() override;

    // The window's progress panel beside the status bar.
    void showProgress(const Progress& progress) override;
    void endProgress() override;
    bool cancelRequested() const override;

private:
    QPointer<TfrmModule> w_;
    int cursors_ = 0; // wait cursors set and not yet put back
};

} // namespace kelta
