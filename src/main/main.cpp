// Program entry: application title, the program's options, the main window, the event loop.
// An error that escapes a handler is shown by the application object; one that reaches this
// level is shown here.
#include "app/application.h"
#include "app/frmmodule.h"
#include "app/language.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    kelta::Application app(argc, argv);
    kelta::Application::setApplicationName("Kelta Utility_LR900");
    const kelta::LanguageOption options =
        kelta::parseLanguageOption(kelta::Application::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(options.error), qPrintable(options.helpText));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(options.helpText), stdout);
        return 0;
    }
    kelta::setStartupLanguage(options.language);
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
