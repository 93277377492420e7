#include "platform/core/file_system_object.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace fs = std::filesystem;

namespace {

// The freedesktop common attribute that backup tools honour ("false": leave it out), and
// the one-byte mark earlier versions wrote, which is still read. Linux keeps
// user-settable attributes in the "user." namespace.
const char kBackupAttribute[] = "user.xdg.robots.backup";
const char kOldSkipBackupAttribute[] = "user.com.apple.MobileBackup";

std::mutex gDocumentsLock;
QString gDocuments;   // set by the process entry or a tool; empty: the default

fs::path toPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

// The application's own data location. Named here rather than taken from the running
// application's name, so that the application and its tools agree on it.
QString appDataLocation()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Lumenar");
}

// True when `inner` is `outer` or lies inside it, after resolving both.
bool isWithin(const fs::path &inner, const fs::path &outer)
{
    std::error_code ec;
    fs::path a = fs::weakly_canonical(inner, ec);
    if (ec)
        return false;
    fs::path b = fs::weakly_canonical(outer, ec);
    if (ec)
        return false;
    auto ia = a.begin(), ib = b.begin();
    for (; ib != b.end(); ++ia, ++ib) {
        if (ia == a.end() || *ia != *ib)
            return false;
    }
    return true;
}

bool itemExists(const fs::path &p)
{
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

bool sameItem(const fs::path &a, const fs::path &b)
{
    std::error_code ec;
    return itemExists(a) && itemExists(b) && fs::equivalent(a, b, ec) && !ec;
}

bool removeAll(const fs::path &p)
{
    std::error_code ec;
    fs::remove_all(p, ec);
    return !ec;
}

bool copyItem(const fs::path &from, const fs::path &to)
{
    std::error_code ec;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    return !ec;
}

QString pathOfUrl(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.path();
}

bool setMark(const QString &path, bool excluded)
{
    if (path.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(path);
    if (excluded)
        return setxattr(name.constData(), kBackupAttribute, "false", 5, 0) == 0;
    if (removexattr(name.constData(), kBackupAttribute) != 0 && errno != ENODATA)
        return false;
    // An old mark left behind would still exclude the item.
    unsigned char old = 0;
    if (getxattr(name.constData(), kOldSkipBackupAttribute, &old, 1) == 1 && old != 0)
        return setxattr(name.constData(), kOldSkipBackupAttribute, "\0", 1, 0) == 0;
    return true;
}

} // namespace

FileSystemObject *FileSystemObject::sharedObject()
{
    static FileSystemObject *shared = new FileSystemObject;   // thread-safe initialisation
    return shared;
}

void FileSystemObject::setDocumentsDirectory(const QString &path)
{
    std::lock_guard<std::mutex> lock(gDocumentsLock);
    gDocuments = path.isEmpty() ? QString() : cleanAbsolute(path);
}

QString FileSystemObject::documentsDirectory() const
{
    {
        std::lock_guard<std::mutex> lock(gDocumentsLock);
        if (!gDocuments.isEmpty())
            return gDocuments;
    }
    QString env = qEnvironmentVariable("LUMENAR_DOCUMENTS");
    if (!env.isEmpty())
        return cleanAbsolute(env);
    QString dir = homeDirectory() + QStringLiteral("/Documents");
    ensureDirectoryExists(dir);
    return dir;
}

QString FileSystemObject::libraryDirectory() const
{
    return homeDirectory() + QStringLiteral("/Library");
}

QString FileSystemObject::homeDirectory() const
{
    return appDataLocation();
}

QString FileSystemObject::bundleDirectory() const
{
    QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                  : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return QDir::cleanPath(exeDir + QStringLiteral("/../share/lumenar"));
}

bool FileSystemObject::fileExists(const QString &path) const
{
    // A dangling symbolic link is an item too.
    return !path.isEmpty() && itemExists(toPath(path));
}

bool FileSystemObject::directoryExists(const QString &path) const
{
    struct stat st;
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileSystemObject::createDirectory(const QString &path) const
{
    if (path.isEmpty())
        return false;
    std::error_code ec;
    fs::path p = toPath(path);
    fs::create_directories(p, ec);
    if (ec)
        return false;
    // create_directories already uses 0777 less the umask, as mkdir -p does.
    return directoryExists(path);
}

bool FileSystemObject::ensureDirectoryExists(const QString &path) const
{
    return directoryExists(path) || createDirectory(path);
}

bool FileSystemObject::createFile(const QString &path) const
{
    if (path.isEmpty())
        return false;
    FILE *f = fopen(QFile::encodeName(path).constData(), "w");
    if (f == nullptr)
        return false;
    fclose(f);
    return true;
}

static std::optional<QStringList> listEntries(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    QDir dir(path);
    if (!dir.exists() || !QFileInfo(path).isReadable())
        return std::nullopt;
    dir.setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    dir.setSorting(QDir::Unsorted);
    return dir.entryList();
}

std::optional<QStringList> FileSystemObject::contentsOfDirectory(const QString &path) const
{
    std::optional<QStringList> names = listEntries(path);
    if (!names)
        return names;
    std::stable_sort(names->begin(), names->end(), [](const QString &a, const QString &b) {
        int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

std::optional<QStringList> FileSystemObject::contentsOfDirectoryWithSuffix(const QString &path,
                                                                           const QString &suffix) const
{
    std::optional<QStringList> names = listEntries(path);
    if (!names || names->isEmpty())
        return std::nullopt;
    QStringList matching;
    for (const QString &name : *names)
        if (name.endsWith(suffix, Qt::CaseSensitive))
            matching << name;
    if (matching.isEmpty())
        return std::nullopt;
    return matching;
}

QStringList FileSystemObject::subDirectories(const QString &path, bool fullPath) const
{
    QStringList result;
    std::optional<QStringList> names = contentsOfDirectory(path);
    if (!names)
        return result;
    for (const QString &name : *names) {
        QString full = path.endsWith(QLatin1Char('/')) ? path + name : path + QLatin1Char('/') + name;
        if (directoryExists(full))
            result << (fullPath ? full : name);
    }
    return result;
}

bool FileSystemObject::removeFileAtPath(const QString &path) const
{
    if (path.isEmpty() || !fileExists(path))
        return false;
    return removeAll(toPath(path));
}

qint64 FileSystemObject::fileSize(const QString &path) const
{
    if (path.isEmpty())
        return 0;
    struct stat st;
    QByteArray p = QFile::encodeName(path);
    if (stat(p.constData(), &st) != 0 && lstat(p.constData(), &st) != 0)
        return 0;
    return qint64(st.st_size);
}

QDateTime FileSystemObject::modificationDate(const QString &path) const
{
    if (!fileExists(path))
        return QDateTime();
    return QFileInfo(path).lastModified();
}

namespace {

enum class Transfer { Refused, AlreadyDone, Go };

// Checks before a copy or move replaces its destination. Without them the removal of the
// destination could destroy the source, or lose the destination for a transfer that
// cannot start.
Transfer clearDestination(const QString &from, const QString &to, const fs::path &src, const fs::path &dst)
{
    if (from.isEmpty() || to.isEmpty() || !itemExists(src))
        return Transfer::Refused;
    if (sameItem(src, dst))
        return Transfer::AlreadyDone;
    if (isWithin(dst, src) || isWithin(src, dst))
        return Transfer::Refused;
    if (itemExists(dst) && !removeAll(dst))
        return Transfer::Refused;
    return Transfer::Go;
}

} // namespace

bool FileSystemObject::copyFile(const QString &from, const QString &to) const
{
    fs::path src = toPath(from), dst = toPath(to);
    switch (clearDestination(from, to, src, dst)) {
    case Transfer::Refused: return false;
    case Transfer::AlreadyDone: return true;
    case Transfer::Go: break;
    }
    return copyItem(src, dst);
}

bool FileSystemObject::moveFile(const QString &from, const QString &to) const
{
    fs::path src = toPath(from), dst = toPath(to);
    switch (clearDestination(from, to, src, dst)) {
    case Transfer::Refused: return false;
    case Transfer::AlreadyDone: return true;
    case Transfer::Go: break;
    }
    std::error_code ec;
    fs::rename(src, dst, ec);
    if (!ec)
        return true;
    // Another file system: copy, and remove the source only once the copy is whole.
    if (!copyItem(src, dst)) {
        removeAll(dst);
        return false;
    }
    return removeAll(src);
}

namespace {

// A rename that never replaces: refused by the kernel at the moment of the rename where
// the file system knows the flag, checked just before it where it does not.
int renameWithoutReplacing(const fs::path &from, const fs::path &to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (itemExists(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

bool FileSystemObject::moveFileWithoutReplacing(const QString &from, const QString &to) const
{
    const fs::path src = toPath(from), dst = toPath(to);
    if (from.isEmpty() || to.isEmpty() || !itemExists(src) || itemExists(dst) || isWithin(dst, src))
        return false;
    const int failed = renameWithoutReplacing(src, dst);
    if (failed != EXDEV)
        return failed == 0;
    // Another file system: copied into a folder of our own beside the destination, then
    // renamed into place there, so whatever appears at the destination meanwhile stays.
    std::string stage = dst.parent_path().native() + "/.lumenar-move-XXXXXX";
    if (mkdtemp(stage.data()) == nullptr)
        return false;
    const fs::path staged = fs::path(stage) / dst.filename();
    const bool moved = copyItem(src, staged) && renameWithoutReplacing(staged, dst) == 0;
    removeAll(fs::path(stage));
    return moved && removeAll(src);
}

bool FileSystemObject::addSkipBackupAttributeToItemAtURL(const QUrl &url) const
{
    return setMark(pathOfUrl(url), true);
}

bool FileSystemObject::removeSkipBackupAttributeToItemAtURL(const QUrl &url) const
{
    return setMark(pathOfUrl(url), false);
}

bool FileSystemObject::hasSkipBackupAttributeToItemAtURL(const QUrl &url) const
{
    QString path = pathOfUrl(url);
    if (path.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(path);
    char value[16];
    const ssize_t n = getxattr(name.constData(), kBackupAttribute, value, sizeof value);
    if (n >= 0)
        return QByteArray(value, int(n)).trimmed() == "false";
    unsigned char old = 0;
    return getxattr(name.constData(), kOldSkipBackupAttribute, &old, 1) == 1 && old == 1;
}

// A path string becomes a file URL as a path, so that names with blanks or "%" work.
bool FileSystemObject::addSkipBackupAttribute(const QString &path) const
{
    return addSkipBackupAttributeToItemAtURL(QUrl::fromLocalFile(path));
}

bool FileSystemObject::removeSkipBackupAttribute(const QString &path) const
{
    return removeSkipBackupAttributeToItemAtURL(QUrl::fromLocalFile(path));
}

bool FileSystemObject::hasSkipBackupAttribute(const QString &path) const
{
    return hasSkipBackupAttributeToItemAtURL(QUrl::fromLocalFile(path));
}
