#pragma once
// Folders and files: the documents folder, folder creation, and the append-only text files of
// the monitoring run.

#include <QString>
#include <memory>

class QFile;

namespace kelta::platform {

QString documentsFolder();               // QStandardPaths::DocumentsLocation
bool createFolders(const QString& path); // with every missing parent; true if it exists after
bool fileExists(const QString& path);    // a file (not a folder), links followed
bool deleteFile(const QString& path);    // true when the file is gone afterwards

// A text file opened for appending on first use and kept open until close(). Text goes out in
// UTF-8 and is flushed after every write, so a crash loses nothing already written.
class AppendFile {
public:
    AppendFile();
    explicit AppendFile(const QString& path);
    ~AppendFile();
    AppendFile(AppendFile&&) noexcept;
    AppendFile& operator=(AppendFile&&) noexcept;

    QString path() const { return path_; }
    void setPath(const QString& path); // closes the file when the path changes

    // Opens the file for appending (creating it, not its folder); true when already open.
    bool open();
    bool isOpen() const;
    void close();

    bool writeText(const QString& text);
    bool writeLine(const QString& line); // the line and "\n"

private:
    QString path_;
    std::unique_ptr<QFile> file_;
};

} // namespace kelta::platform
