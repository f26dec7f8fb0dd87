// Program entry: application title, the main window, the event loop. An error that reaches
// this level is shown in a message box instead of ending the program silently.
#include "app/frmmodule.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelta Utility_LR900");
    int rc = 1;
    try {
        kelta::TfrmModule frmModule;
        frmModule.show();
        rc = app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Kelta Utility_LR900", QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, "Kelta Utility_LR900", "Unexpected error");
    }
    return rc;
}
