#pragma once
// Controls of the window frame: the main page control, the bottom strip and the non-visual
// components, named as the handlers use them.

#include "app/controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

namespace kelta {

// A status bar made of text panels; panel 0 is the one the handlers write.
class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr, int panels = 1);
    int panelCount() const { return static_cast<int>(panels_.size()); }
    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);

private:
    QList<QLabel*> panels_;
};

struct ShellControls {
    Panel* pnlMain = nullptr; // everything above the bottom strip
    PageControl* pcMain = nullptr;
    TabSheet* tsSetTAG = nullptr;
    TabSheet* tsSetReader = nullptr;
    TabSheet* tsReadTag = nullptr;

    // Bottom strip.
    Panel* pnlBottom = nullptr;
    Panel* Panel19 = nullptr; // hidden: language buttons
    QPushButton* btnEng = nullptr;
    QPushButton* btnCHT = nullptr;
    QPushButton* btnCHS = nullptr;
    StatusBar* sbMain = nullptr;
    QComboBox* cmbLanguage = nullptr; // at the right end of sbMain: the languages by name
    // Beside sbMain, shown while a long operation runs: what it does, how far, and Cancel.
    Panel* pnlProgress = nullptr;
    QLabel* lblProgress = nullptr;
    QProgressBar* pgbProgress = nullptr;
    QPushButton* btnProgressCancel = nullptr;
    Panel* pnlBeep = nullptr; // hidden
    QCheckBox* cbxBeep = nullptr;
    Panel* Panel9 = nullptr;
    QLineEdit* edtSaveFile = nullptr;
    QPushButton* btnSaveFile = nullptr;
    QCheckBox* chbAutoSave = nullptr;

    // Non-visual components.
    QTcpServer* ServerSocket = nullptr;
    quint16 serverSocketPort = 4001; // port the server listens on when activated
    QTcpSocket* ClientSocket1 = nullptr;
    QUdpSocket* IdUDPServer = nullptr; // never bound
    quint16 udpServerPort = 4001;
    QFileDialog* OpenDialog01 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    QFileDialog* SaveDialog2 = nullptr;
};

// Default names of the files the window writes, in the user's documents folder.
QString defaultSaveFileName(); // <Documents>/Kelta.csv
QString defaultLogFileName();  // <Documents>/log.csv

// Builds the frame inside `window`: pnlMain with pcMain and its three (empty) sheets above
// the bottom strip; creates the non-visual components as children of `window`.
void buildShell(ShellControls& c, QWidget* window);

} // namespace kelta
