// The window frame: pnlMain with the main page control above the bottom strip, and the
// non-visual components.
#include "app/controls_shell.h"
#include "app/language.h"
#include "platform/timings.h"

#include <QDir>
#include <QHBoxLayout>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace kelta {

namespace {

template <class T> T* named(T* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
}

QFileDialog* csvDialog(QWidget* window, const char* name, QFileDialog::AcceptMode mode) {
    auto* d = named(new QFileDialog(window), name);
    d->setNameFilter(QStringLiteral("Excel CSV files (*.csv)"));
    d->setDefaultSuffix(QStringLiteral("csv"));
    d->setAcceptMode(mode);
    d->hide();
    return d;
}

QString documentsFile(const QString& name) {
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath();
    return QDir(docs).filePath(name);
}

} // namespace

QString defaultSaveFileName() {
    return documentsFile(QStringLiteral("Kelta.csv"));
}

QString defaultLogFileName() {
    return documentsFile(QStringLiteral("log.csv"));
}

StatusBar::StatusBar(QWidget* parent, int panels) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    for (int i = 0; i < panels; ++i) {
        auto* l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        panels_.append(l);
        addWidget(l, i == 0 ? 1 : 0);
    }
}

QString StatusBar::panelText(int index) const {
    return index >= 0 && index < panels_.size() ? panels_[index]->text() : QString();
}

void StatusBar::setPanelText(int index, const QString& text) {
    if (index >= 0 && index < panels_.size()) panels_[index]->setText(text);
}

void buildShell(ShellControls& c, QWidget* window) {
    auto* root = new QVBoxLayout(window);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    c.pnlMain = named(new Panel({}, window), "pnlMain");
    c.pnlMain->setFrameStyle(QFrame::NoFrame);
    auto* mainLayout = new QVBoxLayout(c.pnlMain);
    mainLayout->setContentsMargins(2, 2, 2, 0);
    c.pcMain = named(new PageControl(c.pnlMain), "pcMain");
    c.tsSetTAG = named(new TabSheet(QStringLiteral("Set TAG")), "tsSetTAG");
    c.tsSetReader = named(new TabSheet(QStringLiteral("Set Reader")), "tsSetReader");
    c.tsReadTag = named(new TabSheet(QStringLiteral("Read TAG")), "tsReadTag");
    c.pcMain->addSheet(c.tsSetTAG);
    c.pcMain->addSheet(c.tsSetReader);
    c.pcMain->addSheet(c.tsReadTag);
    mainLayout->addWidget(c.pcMain);
    root->addWidget(c.pnlMain, 1);

    // Bottom strip, 24 pixels high.
    c.pnlBottom = named(new Panel({}, window), "pnlBottom");
    c.pnlBottom->setFixedHeight(24);
    auto* bottom = new QHBoxLayout(c.pnlBottom);
    bottom->setContentsMargins(1, 1, 1, 1);
    bottom->setSpacing(2);

    c.Panel19 = named(new Panel({}, c.pnlBottom), "Panel19");
    auto* langs = new QHBoxLayout(c.Panel19);
    langs->setContentsMargins(0, 0, 0, 0);
    c.btnEng = named(new QPushButton(QStringLiteral("ENG"), c.Panel19), "btnEng");
    c.btnCHT = named(new QPushButton(QStringLiteral("CHT"), c.Panel19), "btnCHT");
    c.btnCHS = named(new QPushButton(QStringLiteral("CHS"), c.Panel19), "btnCHS");
    for (auto* b : {c.btnEng, c.btnCHT, c.btnCHS}) langs->addWidget(b);
    c.Panel19->hide();
    bottom->addWidget(c.Panel19);

    // Panel 0: the run's counters and exchange texts; panel 1: the state of the run's files.
    c.sbMain = named(new StatusBar(c.pnlBottom, 2), "sbMain");
    bottom->addWidget(c.sbMain, 1);
    // The progress of a long operation, hidden while none runs.
    c.pnlProgress = named(new Panel({}, c.pnlBottom), "pnlProgress");
    auto* progress = new QHBoxLayout(c.pnlProgress);
    progress->setContentsMargins(2, 0, 2, 0);
    progress->setSpacing(4);
    c.lblProgress = named(new QLabel(c.pnlProgress), "lblProgress");
    c.lblProgress->setTextFormat(Qt::PlainText);
    c.pgbProgress = named(new QProgressBar(c.pnlProgress), "pgbProgress");
    c.pgbProgress->setFixedWidth(160);
    c.pgbProgress->setRange(0, 100);
    c.btnProgressCancel =
        named(new QPushButton(QStringLiteral("Cancel"), c.pnlProgress), "btnProgressCancel");
    progress->addWidget(c.lblProgress);
    progress->addWidget(c.pgbProgress);
    progress->addWidget(c.btnProgressCancel);
    c.pnlProgress->hide();
    bottom->addWidget(c.pnlProgress);
    // The language chooser a user finds, at the status bar's right end (beside it rather than
    // in it, where the bar's top spacing would cut it); Panel19's buttons stay hidden.
    c.cmbLanguage = named(new QComboBox(c.pnlBottom), "cmbLanguage");
    c.cmbLanguage->addItems(languageChooserItems());
    c.cmbLanguage->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    c.cmbLanguage->setFocusPolicy(Qt::StrongFocus);
    c.cmbLanguage->setToolTip(QString::fromUtf8("Language / 語言 / 语言"));
    c.cmbLanguage->setAccessibleName(QStringLiteral("Language"));
    bottom->addWidget(c.cmbLanguage);

    c.pnlBeep = named(new Panel({}, c.pnlBottom), "pnlBeep");
    auto* beep = new QHBoxLayout(c.pnlBeep);
    beep->setContentsMargins(2, 0, 2, 0);
    c.cbxBeep = named(new QCheckBox(QStringLiteral("Beep"), c.pnlBeep), "cbxBeep");
    beep->addWidget(c.cbxBeep);
    c.pnlBeep->hide();
    bottom->addWidget(c.pnlBeep);

    c.Panel9 = named(new Panel({}, c.pnlBottom), "Panel9");
    auto* save = new QHBoxLayout(c.Panel9);
    save->setContentsMargins(2, 0, 2, 0);
    save->setSpacing(4);
    c.edtSaveFile = named(new QLineEdit(defaultSaveFileName(), c.Panel9), "edtSaveFile");
    c.edtSaveFile->setMinimumWidth(320);
    c.btnSaveFile = named(new QPushButton(QStringLiteral("..."), c.Panel9), "btnSaveFile");
    c.btnSaveFile->setFixedWidth(32);
    c.chbAutoSave =
        named(new QCheckBox(QStringLiteral("Auto Save To File"), c.Panel9), "chbAutoSave");
    save->addWidget(c.edtSaveFile, 1);
    save->addWidget(c.btnSaveFile);
    save->addWidget(c.chbAutoSave);
    bottom->addWidget(c.Panel9, 1);
    for (QWidget* w : c.pnlBottom->findChildren<QWidget*>()) w->setMaximumHeight(22);
    root->addWidget(c.pnlBottom);

    // Non-visual components.
    c.ServerSocket = named(new QTcpServer(window), "ServerSocket");
    c.ServerSocket->setProperty("port", c.serverSocketPort);
    c.ClientSocket1 = named(new QTcpSocket(window), "ClientSocket1");
    c.IdUDPServer = named(new QUdpSocket(window), "IdUDPServer");
    c.IdUDPServer->setProperty("port", c.udpServerPort);
    c.OpenDialog01 = csvDialog(window, "OpenDialog01", QFileDialog::AcceptOpen);
    c.SaveDialog1 = csvDialog(window, "SaveDialog1", QFileDialog::AcceptSave);
    c.SaveDialog2 = csvDialog(window, "SaveDialog2", QFileDialog::AcceptSave);
}

} // namespace kelta
