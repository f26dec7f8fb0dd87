#include "platform/settings_store.h"

#include "platform/files.h"
#include "platform/settings_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QVariant>
#include <cstdio>
#include <limits>
#include <mutex>
#include <utility>

namespace kelta::platform {

QString settingsFilePath() {
    const QString env = qEnvironmentVariable("KELTA_SETTINGS_FILE");
    if (!env.isEmpty()) return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VANTO/Kelta/LR900.ini");
}

namespace {

// The INI reader turns a value "@Variant(...)" or "@DateTime(...)" into an object read from the
// bytes inside: a length field there may ask for gigabytes, which ends the program. This
// program never writes such a value (a text starting with '@' is stored as "@@..."), so a file
// holding one is refused. The value may hide behind escapes (\x40, \100), quotes or a line
// continuation, so the whole text is read with those undone, and any such name not following
// another '@' counts; a list element starting with it counts too.
bool holdsSerializedValue(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    const QString in = QString::fromUtf8(bytes);
    // The character of the digits at i (as many as there are, up to `most`); i moves past them.
    const auto digits = [&](qsizetype& i, uint base, int most) {
        uint code = 0;
        for (int n = 0; i < in.size() && n < most; ++i, ++n) {
            const char16_t d = in.at(i).unicode();
            uint v = base;
            if (d >= u'0' && d <= u'9')
                v = d - u'0';
            else if (d >= u'a' && d <= u'f')
                v = d - u'a' + 10;
            else if (d >= u'A' && d <= u'F')
                v = d - u'A' + 10;
            if (v >= base) break;
            code = code * base + v;
        }
        text += QChar(static_cast<char16_t>(code & 0xFFFF));
    };
    for (qsizetype i = 0; i < in.size();) {
        const QChar c = in.at(i);
        if (c == u'"') {
            ++i;
        } else if (c != u'\\' || i + 1 == in.size()) {
            text += c;
            ++i;
        } else {
            const QChar e = in.at(i + 1);
            i += 2;
            if (e == u'\r' || e == u'\n') {
                if (e == u'\r' && i < in.size() && in.at(i) == u'\n') ++i;
            } else if (e == u'x') {
                digits(i, 16, 8);
            } else if (e >= u'0' && e <= u'7') {
                --i;
                digits(i, 8, 6);
            } else {
                text += e;
            }
        }
    }
    for (const QLatin1String name : {QLatin1String("@Variant("), QLatin1String("@DateTime(")}) {
        for (qsizetype at = text.indexOf(name); at >= 0; at = text.indexOf(name, at + 1))
            if (at == 0 || text.at(at - 1) != u'@') return true;
    }
    return false;
}

} // namespace

QString settingsFileRefusal(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile()) return {};
    if (info.size() > kSettingsFileLimit)
        return QStringLiteral("The settings file %1 is %2 bytes, more than the %3 bytes a "
                              "settings file may have. It is not read and not written; the "
                              "program starts with its default settings.")
            .arg(QDir::toNativeSeparators(info.absoluteFilePath()))
            .arg(info.size())
            .arg(kSettingsFileLimit);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && holdsSerializedValue(file.read(kSettingsFileLimit)))
        return QStringLiteral("The settings file %1 holds a value stored as \"@Variant(...)\" "
                              "or \"@DateTime(...)\", which this program never writes. It is not "
                              "read and not written; the program starts with its default "
                              "settings.")
            .arg(QDir::toNativeSeparators(info.absoluteFilePath()));
    return {};
}

std::optional<SettingsStore> SettingsStore::open(bool create) {
    return openAt(settingsFilePath(), create);
}

namespace {

using FileStamp = SettingsStore::FileStamp;

FileStamp stampOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return {};
    return {true, info.size(), info.lastModified(), info.metadataChangeTime()};
}

// Files found with a format error, as they were then. The INI reader keeps what it parsed of a
// file and gives it, without the error, to every later reader while the file looks unchanged;
// a write would then rewrite the file from that part. Remembering the refusal keeps the file
// refused until it changes.
class Refusals {
public:
    void remember(const QString& path, const FileStamp& stamp) {
        const std::lock_guard lock(mutex_);
        refused_.insert(QFileInfo(path).absoluteFilePath(), stamp);
    }
    // True when `path` was refused as it is now; a refusal of an earlier state is forgotten.
    bool refused(const QString& path, const FileStamp& stamp) {
        const std::lock_guard lock(mutex_);
        const auto it = refused_.find(QFileInfo(path).absoluteFilePath());
        if (it == refused_.end()) return false;
        if (*it == stamp) return true;
        refused_.erase(it);
        return false;
    }

private:
    std::mutex mutex_;
    QHash<QString, FileStamp> refused_;
};

Refusals& refusals() {
    static Refusals r;
    return r;
}

// Reads the file's present bytes as a settings file of their own, past what the INI reader
// keeps of the file: false on a format error.
bool parsesAfresh(const QString& path) {
    QFile file(path);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.read(kSettingsFileLimit + 1);
    if (bytes.size() > kSettingsFileLimit) return false;
    QTemporaryFile copy(QDir::temp().filePath(QStringLiteral("kelta-settings-XXXXXX.ini")));
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) return false;
    copy.close();
    const QSettings parsed(copy.fileName(), QSettings::IniFormat);
    return parsed.status() != QSettings::FormatError;
}

} // namespace

std::optional<SettingsStore> SettingsStore::openAt(const QString& path, bool create) {
    if (path.isEmpty()) return std::nullopt;
    const QFileInfo info(path);
    if (!info.exists()) {
        if (!create) return std::nullopt;
        if (!QDir().mkpath(info.absolutePath())) return std::nullopt;
        QFile file(path);
        // It may come to hold the broker password: for its owner alone from the start.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return std::nullopt;
        file.close();
    } else if (!info.isFile() || !settingsFileRefusal(path).isEmpty()) {
        return std::nullopt;
    }
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    const FileStamp stamp = stampOf(path);
    if (settings->status() == QSettings::FormatError) refusals().remember(path, stamp);
    if (settings->status() != QSettings::NoError || refusals().refused(path, stamp))
        return std::nullopt;
    return SettingsStore(std::move(settings), stamp);
}

SettingsStore::SettingsStore(std::unique_ptr<QSettings> settings, const FileStamp& seen)
    : settings_(std::move(settings)), seen_(seen) {
    readLiterals();
}

// The values of the file as it is now that the INI reader reads otherwise than they stand,
// each kept only when the reader's reading of it has the same cut (a list of as many items, or
// no list): a line the reader did not read as found here is left to the reader.
void SettingsStore::readLiterals() const {
    literals_.clear();
    QFile file(settings_->fileName());
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.read(kSettingsFileLimit);
    const auto found = literalSettingsValues(bytes);
    for (auto it = found.begin(); it != found.end(); ++it) {
        const QVariant reading = settings_->value(it.key());
        if (!reading.isValid()) continue;
        const bool list = reading.typeId() == QMetaType::QStringList ||
                          reading.typeId() == QMetaType::QVariantList;
        if (list != (it->listItems > 0)) continue;
        if (list && reading.toList().size() != it->listItems) continue;
        literals_.insert(it.key(), Literal{it->text, reading});
    }
}

SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&& other) noexcept {
    if (this != &other) {
        if (settings_ && !pending_.isEmpty()) commit();
        settings_ = std::move(other.settings_);
        seen_ = other.seen_;
        pending_ = std::move(other.pending_);
        held_ = other.held_;
        literals_ = std::move(other.literals_);
    }
    return *this;
}
SettingsStore::~SettingsStore() {
    if (settings_ && !pending_.isEmpty()) commit();
}

QString SettingsStore::path() const {
    return settings_->fileName();
}

bool SettingsStore::hasValue(const QString& name) const {
    return valueOf(name).isValid();
}

QStringList SettingsStore::valueNames() const {
    QStringList names;
    for (const QString& name : settings_->childKeys())
        if (!name.isEmpty() && !pending_.contains(name)) names << name;
    for (auto it = pending_.begin(); it != pending_.end(); ++it)
        if (it->isValid()) names << it.key();
    return names;
}

QVariant SettingsStore::valueOf(const QString& name) const {
    if (name.isEmpty()) return {};
    const auto it = pending_.find(name);
    if (it != pending_.end()) return *it;
    QVariant reading = settings_->value(name);
    auto literal = literals_.find(name);
    if (literal != literals_.end() && literal->reading == reading) return literal->text;
    // A list the store has not found in the file: the reading came from a later state of the
    // file (another store of it in this program wrote it), which is read for its lines again.
    if (reading.typeId() == QMetaType::QStringList || reading.typeId() == QMetaType::QVariantList) {
        readLiterals();
        literal = literals_.find(name);
        if (literal != literals_.end() && literal->reading == reading) return literal->text;
    }
    return reading;
}

namespace {

// INI files keep no types: a value is a number when its text is one. A hand-written value
// with an unquoted comma comes back as a list, which is no number. Qt's conversion ends the text
// at a NUL, so "1<NUL>x" would read as 1: a NUL makes it no number either.
std::optional<int> asInteger(const QVariant& v) {
    if (v.typeId() == QMetaType::QStringList) return std::nullopt;
    const QString text = v.toString().trimmed();
    if (text.contains(QChar(u'\0'))) return std::nullopt;
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(n);
}

} // namespace

int SettingsStore::readInteger(const QString& name) const {
    const QVariant v = valueOf(name);
    if (!v.isValid())
        throw SettingsTypeError("settings value " + name.toStdString() + " does not exist");
    const auto n = asInteger(v);
    if (!n) throw SettingsTypeError("settings value " + name.toStdString() + " is not an integer");
    return *n;
}

QString SettingsStore::readString(const QString& name) const {
    const QVariant v = valueOf(name);
    // A list here is one whose line was not found as the reader read it (not met in practice).
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

bool SettingsStore::readBool(const QString& name) const {
    return readInteger(name) != 0;
}

// Whether the pending writes may go to the file: it is as this store last saw it, or read
// afresh it has no format error.
bool SettingsStore::mayWrite() {
    const FileStamp now = stampOf(settings_->fileName());
    if (now == seen_) return true;
    const QString path = settings_->fileName();
    if (!settingsFileRefusal(path).isEmpty() || refusals().refused(path, now)) return false;
    if (parsesAfresh(path)) return true;
    refusals().remember(path, now);
    return false;
}

bool SettingsStore::commit() {
    held_ = false;
    if (pending_.isEmpty()) return true;
    const QMap<QString, QVariant> writes = std::exchange(pending_, {});
    if (!mayWrite()) return false;
    // The file may hold the broker password: whatever this program writes is for its owner
    // alone. A wider mode is narrowed before the rewrite (which keeps the mode) and said once;
    // a file the rewrite made afresh is narrowed at once.
    const QString path = settings_->fileName();
    if (const auto was = makeOwnerOnly(path)) {
        std::fprintf(stderr,
                     "Settings file %s could be read by others (mode %03o); it is now mode 600, "
                     "as it may hold a password.\n",
                     qPrintable(QDir::toNativeSeparators(path)), *was);
        std::fflush(stderr);
    }
    // The INI writer rewrites the whole file from its reading of it: a value it reads otherwise
    // than it stands (a hand-typed comma, a stray quote) is written as the text it is read as,
    // in the format's form, so that it goes on reading the same. The reading is brought up to
    // the file first, in case another program changed it.
    settings_->sync();
    readLiterals();
    for (auto it = literals_.begin(); it != literals_.end(); ++it)
        if (!writes.contains(it.key())) settings_->setValue(it.key(), it->text);
    for (auto it = writes.begin(); it != writes.end(); ++it) {
        if (it->isValid())
            settings_->setValue(it.key(), *it);
        else
            settings_->remove(it.key());
    }
    settings_->sync();
    makeOwnerOnly(path);
    const FileStamp now = stampOf(settings_->fileName());
    if (settings_->status() == QSettings::FormatError)
        refusals().remember(settings_->fileName(), now);
    if (settings_->status() != QSettings::NoError) return false;
    seen_ = now;
    readLiterals();
    return true;
}

bool SettingsStore::stage(const QString& name, const QVariant& value) {
    if (name.isEmpty()) return false;
    pending_.insert(name, value);
    return held_ || commit();
}

bool SettingsStore::writeInteger(const QString& name, int value) {
    return stage(name, value);
}

bool SettingsStore::writeString(const QString& name, const QString& value) {
    return stage(name, value);
}

bool SettingsStore::writeBool(const QString& name, bool value) {
    return writeInteger(name, value ? 1 : 0);
}

bool SettingsStore::removeValue(const QString& name) {
    return stage(name, QVariant());
}

} // namespace kelta::platform
