// FileSystemObject: the application's one entry point for file-system questions and
// operations. Stateless apart from the documents folder chosen at process start; every
// operation answers a plain yes/no, none or zero and never reports platform errors in
// detail. Callable from any thread (the library scan uses it from its own thread).
//
// All paths are absolute path strings.
#pragma once

#include <optional>

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

class FileSystemObject {
public:
    // Created on first call under a lock, then the same instance for the process.
    static FileSystemObject *sharedObject();

    // The root of all user files. Chosen by setDocumentsDirectory() (the --documents
    // option), else $LUMENAR_DOCUMENTS, else "Documents" in the application's data
    // location, which is created on first use. Never the user's whole home folder: the
    // FTP server serves this folder without a password.
    QString documentsDirectory() const;
    // Set by the process entry or a tool before anything else runs; an empty path returns
    // to the default. The path is made absolute and clean (no trailing slash).
    static void setDocumentsDirectory(const QString &path);

    // The application's own home (the parent of the default documents folder), its
    // library folder inside that, and the bundle (<executable dir>/../share/lumenar).
    QString libraryDirectory() const;
    QString homeDirectory() const;
    QString bundleDirectory() const;

    bool fileExists(const QString &path) const;
    bool directoryExists(const QString &path) const;
    // With intermediate folders, permissions 0777 (less the umask).
    bool createDirectory(const QString &path) const;
    bool ensureDirectoryExists(const QString &path) const;
    // Creates or empties the file.
    bool createFile(const QString &path) const;

    // Entry names (hidden ones included), sorted case-insensitively; none when the folder
    // cannot be read.
    std::optional<QStringList> contentsOfDirectory(const QString &path) const;
    // Names ending in `suffix` (case-sensitive), in the order the folder lists them; none
    // when the folder cannot be read, is empty, or no name matches.
    std::optional<QStringList> contentsOfDirectoryWithSuffix(const QString &path, const QString &suffix) const;
    // The entries of contentsOfDirectory() that are folders, in that order.
    QStringList subDirectories(const QString &path, bool fullPath = true) const;

    // Removes a file, or a folder with its contents (a symbolic link itself, never its target).
    bool removeFileAtPath(const QString &path) const;
    // 0 when nothing exists at the path.
    qint64 fileSize(const QString &path) const;
    // Invalid when nothing exists at the path.
    QDateTime modificationDate(const QString &path) const;
    // Both replace whatever is at the destination. Copying or moving an item onto itself
    // answers YES and changes nothing; moving a folder into itself, or onto a folder that
    // holds the source, is refused so that nothing is lost.
    bool copyFile(const QString &from, const QString &to) const;
    bool moveFile(const QString &from, const QString &to) const;
    // For renames and moves a user asks for: NO when anything is at the destination, even
    // when it appears there after the caller checked (an upload arriving meanwhile).
    bool moveFileWithoutReplacing(const QString &from, const QString &to) const;

    // The backup-exclusion mark: the freedesktop attribute "user.xdg.robots.backup" with
    // the value "false" (removed when unmarked). The one-byte "user.com.apple.MobileBackup"
    // mark of earlier versions (1 marked) still counts when the other is absent, and
    // unmarking clears it. NO where the file system refuses user attributes.
    bool addSkipBackupAttributeToItemAtURL(const QUrl &url) const;
    bool removeSkipBackupAttributeToItemAtURL(const QUrl &url) const;
    bool hasSkipBackupAttributeToItemAtURL(const QUrl &url) const;
    bool addSkipBackupAttribute(const QString &path) const;
    bool removeSkipBackupAttribute(const QString &path) const;
    bool hasSkipBackupAttribute(const QString &path) const;

private:
    FileSystemObject() = default;
};
