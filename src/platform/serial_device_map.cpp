#include "platform/serial_device_map.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kelta::platform {

namespace {

constexpr int kHighestMappedPort = 100;

QString fixedPortPath(const QString& prefix, int n) {
    return prefix + QString::number(n - 1);
}

// The number of a name "COMn" (any case), or -1.
int portNumberOf(const QString& name) {
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return -1;
    bool ok = false;
    const int n = name.mid(3).toInt(&ok, 10);
    return ok && n > 0 ? n : -1;
}

} // namespace

QString serialMapDir() {
    const QString env = qEnvironmentVariable("KELTA_SERIAL_MAP");
    if (!env.isEmpty()) return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VANTO/Kelta/serial");
}

QString mappedDevicePathFor(int n) {
    if (n < 1) return {};
    const QDir dir(serialMapDir());
    QFileInfo entry(dir.filePath(QStringLiteral("COM%1").arg(n)));
    if (!entry.exists() && !entry.isSymLink() && dir.exists()) {
        // The list shows names as they are ("com5", "COM05"); whoever picks one by its number
        // must reach the same entry.
        const QStringList names =
            dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (portNumberOf(name) != n) continue;
            entry = QFileInfo(dir.filePath(name));
            break;
        }
    }
    if (entry.isSymLink()) return entry.symLinkTarget();
    if (entry.exists()) return entry.absoluteFilePath();
    return {};
}

QString devicePathFor(int n) {
    if (n < 1) return {};
    const QString mapped = mappedDevicePathFor(n);
    return mapped.isEmpty() ? fixedPortPath(QStringLiteral("/dev/ttyS"), n) : mapped;
}

bool isRealUart(const QString& devicePath) {
    const QByteArray path = QFile::encodeName(devicePath);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

QStringList systemPortList(const QString& mapDir, const QString& fixedPortPrefix) {
    std::vector<std::pair<int, QString>> ports;
    std::vector<bool> mapped(kHighestMappedPort + 1, false);

    const QDir dir(mapDir);
    if (!mapDir.isEmpty() && dir.exists()) {
        // QDir::System also lists links whose device is gone: they are still entries.
        const QStringList names =
            dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            const int n = portNumberOf(name);
            if (n >= 1 && n <= kHighestMappedPort) mapped[n] = true;
            ports.emplace_back(n < 0 ? std::numeric_limits<int>::max() : n, name);
        }
    }
    for (int n = 1; n <= kHighestMappedPort; ++n) {
        if (mapped[n]) continue;
        const QString path = fixedPortPath(fixedPortPrefix, n);
        if (QFileInfo::exists(path) && isRealUart(path))
            ports.emplace_back(n, QStringLiteral("COM%1").arg(n));
    }
    std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    QStringList result;
    result.reserve(static_cast<qsizetype>(ports.size()));
    for (const auto& p : ports) result << p.second;
    return result;
}

QStringList systemPortList() {
    return systemPortList(serialMapDir(), QStringLiteral("/dev/ttyS"));
}

} // namespace kelta::platform
