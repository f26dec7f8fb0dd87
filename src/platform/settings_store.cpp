#include "platform/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <limits>

namespace kelta::platform {

QString settingsFilePath() {
    const QString env = qEnvironmentVariable("KELTA_SETTINGS_FILE");
    if (!env.isEmpty()) return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VANTO/Kelta/LR900.ini");
}

QString settingsFileRefusal(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() <= kSettingsFileLimit) return {};
    return QStringLiteral("The settings file %1 is %2 bytes, more than the %3 bytes a settings "
                          "file may have. It is not read and not written; the program starts "
                          "with its default settings.")
        .arg(QDir::toNativeSeparators(info.absoluteFilePath()))
        .arg(info.size())
        .arg(kSettingsFileLimit);
}

std::optional<SettingsStore> SettingsStore::open(bool create) {
    return openAt(settingsFilePath(), create);
}

std::optional<SettingsStore> SettingsStore::openAt(const QString& path, bool create) {
    if (path.isEmpty()) return std::nullopt;
    const QFileInfo info(path);
    if (!info.exists()) {
        if (!create) return std::nullopt;
        if (!QDir().mkpath(info.absolutePath())) return std::nullopt;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return std::nullopt;
        file.close();
    } else if (!info.isFile() || !settingsFileRefusal(path).isEmpty()) {
        return std::nullopt;
    }
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError) return std::nullopt;
    return SettingsStore(std::move(settings));
}

SettingsStore::SettingsStore(std::unique_ptr<QSettings> settings)
    : settings_(std::move(settings)) {}
SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&&) noexcept = default;
SettingsStore::~SettingsStore() = default;

QString SettingsStore::path() const {
    return settings_->fileName();
}

bool SettingsStore::hasValue(const QString& name) const {
    return settings_->contains(name);
}

QStringList SettingsStore::valueNames() const {
    return settings_->childKeys();
}

namespace {

// INI files keep no types: a value is a number when its text is one. A hand-written value
// with an unquoted comma comes back as a list, which is no number.
std::optional<int> asInteger(const QVariant& v) {
    if (v.typeId() == QMetaType::QStringList) return std::nullopt;
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(n);
}

} // namespace

int SettingsStore::readInteger(const QString& name) const {
    const QVariant v = settings_->value(name);
    if (!v.isValid())
        throw SettingsTypeError("settings value " + name.toStdString() + " does not exist");
    const auto n = asInteger(v);
    if (!n) throw SettingsTypeError("settings value " + name.toStdString() + " is not an integer");
    return *n;
}

QString SettingsStore::readString(const QString& name) const {
    const QVariant v = settings_->value(name);
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

bool SettingsStore::readBool(const QString& name) const {
    return readInteger(name) != 0;
}

bool SettingsStore::commit() {
    held_ = false;
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

bool SettingsStore::written() {
    return held_ || commit();
}

bool SettingsStore::writeInteger(const QString& name, int value) {
    settings_->setValue(name, value);
    return written();
}

bool SettingsStore::writeString(const QString& name, const QString& value) {
    settings_->setValue(name, value);
    return written();
}

bool SettingsStore::writeBool(const QString& name, bool value) {
    return writeInteger(name, value ? 1 : 0);
}

bool SettingsStore::removeValue(const QString& name) {
    settings_->remove(name);
    return written();
}

} // namespace kelta::platform
