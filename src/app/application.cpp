#include "app/application.h"

#include <QMessageBox>
#include <exception>

namespace kelta {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showError(QStringLiteral("Unexpected error"));
    }
    return false;
}

void Application::showError(const QString& text) {
    qWarning("%s", qPrintable(text));
    if (platformName() == QLatin1String("offscreen")) return;
    QMessageBox::critical(activeWindow(), applicationName(), text);
}

} // namespace kelta
