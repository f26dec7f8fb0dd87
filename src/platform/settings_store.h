#pragma once
// The program's stored settings: one INI file read and written through QSettings. Values sit at
// the top level of the file ([General]) under their own names ("PAGE", "COM12", ...).

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <stdexcept>

class QSettings;

namespace kelta::platform {

// A value that exists but does not hold what was asked for (an integer or a boolean read from
// a text that is not a number), or an integer/boolean read from a value that does not exist.
class SettingsTypeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// KELTA_SETTINGS_FILE, or <GenericConfigLocation>/VANTO/Kelta/LR900.ini.
QString settingsFilePath();

// A settings file larger than this is not a settings file the program wrote: reading it would
// cost memory and seconds at every open, so it is neither read nor written.
inline constexpr qint64 kSettingsFileLimit = 1024 * 1024;

// Why the settings file at `path` is refused (a clear text naming the file and its size), or
// an empty text when it may be used or does not exist.
QString settingsFileRefusal(const QString& path);

class SettingsStore {
public:
    // Opens the settings file. With create, the folder and an empty file are made when missing;
    // without it, a missing file fails. An unreadable or refused file (settingsFileRefusal)
    // fails in both cases, so nothing is ever written over it. A file with a format error is
    // refused too, and stays refused at every later opening until it changes.
    static std::optional<SettingsStore> open(bool create);
    static std::optional<SettingsStore> openAt(const QString& path, bool create);

    SettingsStore(SettingsStore&&) noexcept;
    SettingsStore& operator=(SettingsStore&&) noexcept;
    ~SettingsStore();

    QString path() const;

    // A value without a name (a line "=text") is not a value: it is neither listed nor read.
    bool hasValue(const QString& name) const;
    QStringList valueNames() const;

    // A 32-bit signed decimal number; anything else, or a missing value, raises
    // SettingsTypeError.
    int readInteger(const QString& name) const;
    // The value as text; a missing value reads as an empty text. A value is read as it stands
    // in the file, commas, blanks and quotes within it included (settings_text.h): a value in
    // the INI format's form (no quote, or the whole value in one pair of quotes; everything
    // this program writes) as the format reads it, any other as it stands on its line.
    QString readString(const QString& name) const;
    // Stored as a number: 0 is false, any other number true; not a number raises
    // SettingsTypeError.
    bool readBool(const QString& name) const;

    // Each write reaches the file at once (about 15 ms each: the file is rewritten safely);
    // false when it could not be written. While writes are held, they return true and wait.
    // When the file changed since this store read or wrote it, it is read afresh first; if it
    // now has a format error, nothing is written (the pending writes are dropped) and the file
    // is refused from then on.
    bool writeInteger(const QString& name, int value);
    bool writeString(const QString& name, const QString& value);
    bool writeBool(const QString& name, bool value);

    // Drops a value; false when it could not be written.
    bool removeValue(const QString& name);

    // Writes made from here on stay in memory until commit() or the store's end, so that a
    // caller writing a hundred values pays for one file write instead of a hundred.
    void holdWrites() { held_ = true; }
    // Writes every held value out now and ends the holding; true when the file was written.
    bool commit();

    // Size and change times of a file, to tell whether it changed since it was last read.
    struct FileStamp {
        bool exists = false;
        qint64 size = 0;
        QDateTime modified, changed;
        bool operator==(const FileStamp&) const = default;
    };

private:
    SettingsStore(std::unique_ptr<QSettings> settings, const FileStamp& seen);
    bool stage(const QString& name, const QVariant& value);
    QVariant valueOf(const QString& name) const;
    bool mayWrite();
    void readLiterals() const;

    std::unique_ptr<QSettings> settings_;
    FileStamp seen_; // the file as this store last read or wrote it
    // Writes not yet in the file; an invalid value is a removal.
    QMap<QString, QVariant> pending_;
    bool held_ = false;
    // Values the INI reader reads otherwise than they stand in the file (settings_text.h): the
    // text as it stands, and the reader's reading it stands for (a later write through another
    // store of the same file changes that reading, and the text no longer counts).
    struct Literal {
        QString text;
        QVariant reading;
    };
    mutable QHash<QString, Literal> literals_;
};

} // namespace kelta::platform
