// Program entry: application title, the main window, the event loop. An error that escapes a
// handler is shown by the application object; one that reaches this level is shown here.
#include "app/application.h"
#include "app/frmmodule.h"

#include <exception>

int main(int argc, char** argv) {
    kelta::Application app(argc, argv);
    kelta::Application::setApplicationName("Kelta Utility_LR900");
    int rc = 1;
    try {
        kelta::TfrmModule frmModule;
        frmModule.show();
        rc = kelta::Application::exec();
    } catch (const std::exception& e) {
        kelta::Application::showError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        kelta::Application::showError(QStringLiteral("Unexpected error"));
    }
    return rc;
}
