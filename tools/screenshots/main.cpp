// Renders the main window at 1366x768 and saves one picture per main page:
//   kelta-screenshots [output folder [WIDTHxHEIGHT]]   (defaults: docs, 1366x768)
// Meant to run under QT_QPA_PLATFORM=offscreen.
#include "app/application.h"
#include "app/frmmodule.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

bool save(kelta::TfrmModule& w, kelta::TabSheet* page, const QString& path) {
    w.pcMain->setActivePage(page);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    for (auto* grid : w.findChildren<kelta::StringGrid*>()) grid->flush();
    QImage image(w.size(), QImage::Format_RGB32);
    image.fill(w.palette().color(QPalette::Window));
    QPainter painter(&image);
    w.render(&painter);
    painter.end();
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    kelta::Application app(argc, argv);
    kelta::Application::setApplicationName("Kelta Utility_LR900");
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
        return 1;
    }
    QSize size(1366, 768);
    if (argc > 2) {
        const QStringList wh = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
        if (wh.size() == 2 && wh[0].toInt() > 0 && wh[1].toInt() > 0)
            size = QSize(wh[0].toInt(), wh[1].toInt());
    }
    kelta::TfrmModule w;
    w.setGeometry(QRect(QPoint(0, 0), size));
    w.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    const QDir dir(out);
    bool ok = save(w, w.tsReadTag, dir.filePath("screenshot-read-tag.png"));
    ok = save(w, w.tsSetReader, dir.filePath("screenshot-set-reader.png")) && ok;
    ok = save(w, w.tsSetTAG, dir.filePath("screenshot-set-tag.png")) && ok;
    return ok ? 0 : 1;
}
