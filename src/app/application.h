#pragma once
// The application object: an error escaping an event handler is shown in a message box and
// the program goes on, instead of ending.

#include <QApplication>

namespace kelta {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an error text the way an escaped error is shown. Message boxes are skipped under
    // the offscreen platform, where nobody could close them; the text goes to the log.
    static void showError(const QString& text);
};

} // namespace kelta
