#include "app/window_link_view.h"

#include "app/frmmodule.h"
#include "app/progress_panel.h"

#include <QApplication>

namespace kelta {

using reader::LinkKind;
using reader::MessagePanel;
using reader::TraceField;

namespace {

// The reader ID of the active link page: the edit's decimal value when its ID box is checked,
// -1 otherwise or when the edit holds no number.
int readerIdOfActivePage(const TfrmModule& w, LinkKind kind) {
    QCheckBox* box = w.cbxTxID_00;
    QLineEdit* edit = w.edtTxID_00;
    switch (kind) {
    case LinkKind::TcpServer:
        box = w.cbxTxID_01;
        edit = w.edtTxID_01;
        break;
    case LinkKind::TcpClient:
        box = w.cbxTxID_02;
        edit = w.edtTxID_02;
        break;
    case LinkKind::Serial:
        break;
    }
    if (!box || !edit || !box->isChecked()) return -1;
    bool ok = false;
    const int id = edit->text().trimmed().toInt(&ok, 10);
    return ok ? id : -1;
}

QString textOf(const QLineEdit* e) {
    return e ? e->text() : QString();
}

} // namespace

LinkKind activeLinkKind(const TfrmModule& w) {
    const TabSheet* page = w.pcSetReadMain ? w.pcSetReadMain->activePage() : nullptr;
    if (page && page == w.tsTcpServer) return LinkKind::TcpServer;
    if (page && page == w.tsTcpClient) return LinkKind::TcpClient;
    return LinkKind::Serial;
}

reader::LinkSettings linkSettingsOf(const TfrmModule& w) {
    reader::LinkSettings s;
    s.kind = activeLinkKind(w);
    s.comText = w.cbxCom ? w.cbxCom->currentText() : QString();
    s.baudText = w.cmbBaud ? w.cmbBaud->currentText() : QString();
    s.serverIp = textOf(w.edtTcpServerIP);
    s.serverPort = textOf(w.edtTcpServerPort);
    s.clientIp = textOf(w.edtTcpClientIP);
    s.listenPort = textOf(w.edtLisPort);
    s.readerId = readerIdOfActivePage(w, s.kind);
    s.beep = w.cbxBeep && w.cbxBeep->isChecked();
    const TabSheet* page = w.pcMain ? w.pcMain->activePage() : nullptr;
    s.settingPageShown = page && (page == w.tsSetReader || page == w.tsSetTAG);
    return s;
}

WindowLinkView::WindowLinkView(TfrmModule& window) : w_(&window) {}

WindowLinkView::~WindowLinkView() {
    // A command cut short by the view's end leaves no wait cursor behind.
    for (; cursors_ > 0; --cursors_) QApplication::restoreOverrideCursor();
}

reader::LinkSettings WindowLinkView::linkSettings() const {
    return w_ ? linkSettingsOf(*w_) : reader::LinkSettings{};
}

namespace {

Panel* panelOf(TfrmModule& w, MessagePanel panel) {
    return panel == MessagePanel::Reader ? w.pnMsg : w.pnlTagMsg;
}

QLineEdit* fieldOf(TfrmModule& w, TraceField field) {
    switch (field) {
    case TraceField::ReaderSend:
        return w.edtSend;
    case TraceField::TagSend:
        return w.edSend;
    case TraceField::TagRecv:
        return w.edRecv;
    case TraceField::RecvHeader:
        return w.edtRecv1;
    case TraceField::RecvData:
        break;
    }
    return w.edtRecv2;
}

} // namespace

void WindowLinkView::setMessage(MessagePanel panel, const QString& text) {
    if (w_) panelOf(*w_, panel)->setText(text);
}

void WindowLinkView::setMessageHint(MessagePanel panel, const QString& hint) {
    if (w_) setHint(panelOf(*w_, panel), hint);
}

QString WindowLinkView::messageHint(MessagePanel panel) const {
    return w_ ? hintOf(panelOf(*w_, panel)) : QString();
}

void WindowLinkView::setTrace(TraceField field, const QString& text) {
    if (w_) fieldOf(*w_, field)->setText(text);
}

void WindowLinkView::setTraceHint(TraceField field, const QString& hint) {
    if (w_) setHint(fieldOf(*w_, field), hint);
}

void WindowLinkView::clearTraces() {
    if (!w_) return;
    for (QLineEdit* e : {w_->edtSend, w_->edSend, w_->edRecv, w_->edtRecv1, w_->edtRecv2})
        e->clear();
}

void WindowLinkView::showLinkKind(LinkKind kind) {
    if (!w_) return;
    switch (kind) {
    case LinkKind::TcpServer:
        w_->pcTagMain->setActivePage(w_->tsNET);
        break;
    case LinkKind::TcpClient:
        w_->pcTagMain->setActivePage(w_->tsNetServer);
        break;
    case LinkKind::Serial:
        w_->pcTagMain->setActivePage(w_->tsCOM);
        break;
    }
}

void WindowLinkView::showServerPort(int port) {
    if (w_) w_->edtTcpServerPort->setText(QString::number(port));
}

void WindowLinkView::showListenPort(int port) {
    if (!w_) return;
    w_->edtLisPort->setText(QString::number(port));
    w_->serverSocketPort = static_cast<quint16>(port);
}

void WindowLinkView::setControlsEnabled(bool enabled) {
    if (w_) w_->pnlMain->setEnabled(enabled);
}

// The cursor belongs to the application: put back even when the window has gone.
void WindowLinkView::setWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++cursors_;
    } else if (cursors_ > 0) {
        QApplication::restoreOverrideCursor();
        --cursors_;
    }
}

void WindowLinkView::clearStatus() {
    if (w_ && w_->sbMain->panelCount() > 0) w_->sbMain->setPanelText(0, QString());
}

void WindowLinkView::showProgress(const Progress& progress) {
    if (w_ && w_->progressPanel) w_->progressPanel->show(progress);
}

void WindowLinkView::endProgress() {
    if (w_ && w_->progressPanel) w_->progressPanel->end();
}

bool WindowLinkView::cancelRequested() const {
    return w_ && w_->progressPanel && w_->progressPanel->cancelRequested();
}

} // namespace kelta
