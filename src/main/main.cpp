// Program entry: application title, the program's options, the main window, the event loop.
// An error that escapes a handler is shown by the application object; one that reaches this
// level is shown here.
#include "app/application.h"
#include "app/frmmodule.h"
#include "app/language.h"
#include "kelta/version.h"

#include <QCoreApplication>
#include <cstdio>
#include <exception>

namespace {

// --help and --version are answered without a display: with a console application object
// only. Returns the exit code, or -1 when the window is to start (a wrong option included: the
// window's application object takes Qt's own options such as -platform first).
int answerWithoutWindow(int& argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const kelta::LanguageOption first = kelta::parseLanguageOption(arguments);
    if (!first.error.isEmpty() || (!first.help && !first.version)) return -1;
    QCoreApplication core(argc, argv); // the program's name in the help text
    const kelta::LanguageOption options = kelta::parseLanguageOption(core.arguments());
    if (options.version)
        std::fputs("kelta-utility " KELTA_VERSION "\n", stdout);
    else
        std::fputs(qPrintable(options.helpText), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (const int rc = answerWithoutWindow(argc, argv); rc >= 0) return rc;
    kelta::Application app(argc, argv);
    kelta::Application::setApplicationName("Kelta Utility_LR900");
    kelta::Application::setApplicationVersion(QStringLiteral(KELTA_VERSION));
    // The desktop entry of the package (kelta-utility.desktop): its name and icon.
    kelta::Application::setDesktopFileName(QStringLiteral("kelta-utility"));
    const kelta::LanguageOption options =
        kelta::parseLanguageOption(kelta::Application::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(options.error), qPrintable(options.helpText));
        return 2;
    }
    if (options.help || options.version) {
        std::fputs(options.version ? "kelta-utility " KELTA_VERSION "\n"
                                   : qPrintable(options.helpText),
                   stdout);
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
