// The command handlers of FtpConnection: what each command word does and the exact
// reply lines. Every path a client names is turned into a path beneath the served root
// (clientPath, diskPath) and every file operation is made relative to the root's
// descriptor or to a folder opened beneath it, at the moment the command acts.
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>

#include "net/ftp_connection.h"
#include "net/ftp_server.h"
#include "net/net_limits.h"

using FtpCommandLine::fileNameFromArgs;

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// Moves without replacing: an existing target makes the rename fail.
bool moveEntry(int fromDir, const QByteArray &from, int toDir, const QByteArray &to)
{
    if (renameat2(fromDir, from.constData(), toDir, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without no-replace renames.
    struct stat st;
    if (fstatat(toDir, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return false;
    return renameat(fromDir, from.constData(), toDir, to.constData()) == 0;
}

// Removes an entry and, for a folder, everything inside it; links are removed, never
// followed.
bool removeTree(int parentFd, const char *name)
{
    struct stat st;
    if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return unlinkat(parentFd, name, 0) == 0 || errno == ENOENT;
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    QList<QByteArray> names;
    while (struct dirent *e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.append(e->d_name);
    bool ok = true;
    for (const QByteArray &inside : names)
        ok = removeTree(dirfd(dir), inside.constData()) && ok;
    closedir(dir);
    return ok && (unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

} // namespace

const QHash<QString, FtpConnection::Handler> &FtpConnection::handlers()
{
    static const QHash<QString, Handler> table = {
        {QStringLiteral("doQuit:arguments:"), &FtpConnection::doQuit},
        {QStringLiteral("doUser:arguments:"), &FtpConnection::doUser},
        {QStringLiteral("doPass:arguments:"), &FtpConnection::doPass},
        {QStringLiteral("doSyst:arguments:"), &FtpConnection::doSyst},
        {QStringLiteral("doNoop:arguments:"), &FtpConnection::doNoop},
        {QStringLiteral("doFeat:arguments:"), &FtpConnection::doFeat},
        {QStringLiteral("doStat:arguments:"), &FtpConnection::doStat},
        {QStringLiteral("doType:arguments:"), &FtpConnection::doType},
        {QStringLiteral("doOpts:arguments:"), &FtpConnection::doOpts},
        {QStringLiteral("doPwd:arguments:"), &FtpConnection::doPwd},
        {QStringLiteral("doCwd:arguments:"), &FtpConnection::doCwd},
        {QStringLiteral("doCdUp:arguments:"), &FtpConnection::doCdUp},
        {QStringLiteral("doList:arguments:"), &FtpConnection::doList},
        {QStringLiteral("doRetr:arguments:"), &FtpConnection::doRetr},
        {QStringLiteral("doStor:arguments:"), &FtpConnection::doStor},
        {QStringLiteral("doAppe:arguments:"), &FtpConnection::doAppe},
        {QStringLiteral("doRest:arguments:"), &FtpConnection::doRest},
        {QStringLiteral("doAbor:arguments:"), &FtpConnection::doAbor},
        {QStringLiteral("doDele:arguments:"), &FtpConnection::doDele},
        {QStringLiteral("doMkdir:arguments:"), &FtpConnection::doMkdir},
        {QStringLiteral("doSize:arguments:"), &FtpConnection::doSize},
        {QStringLiteral("doMlst:arguments:"), &FtpConnection::doMlst},
        {QStringLiteral("doRnfr:arguments:"), &FtpConnection::doRnfr},
        {QStringLiteral("doRnto:arguments:"), &FtpConnection::doRnto},
        {QStringLiteral("doPasv:arguments:"), &FtpConnection::doPasv},
        {QStringLiteral("doEpsv:arguments:"), &FtpConnection::doEpsv},
        {QStringLiteral("doPort:arguments:"), &FtpConnection::doPort},
        {QStringLiteral("doLprt:arguments:"), &FtpConnection::doLprt},
        {QStringLiteral("doEprt:arguments:"), &FtpConnection::doEprt},
    };
    return table;
}

// ---- paths

std::optional<FtpPaths::Components> FtpConnection::clientPath(const QString &name, const QByteArray &raw) const
{
    return FtpPaths::normalise(currentDir_, name, raw);
}

std::optional<QByteArray> FtpConnection::diskPath(const QString &name, const QByteArray &raw) const
{
    std::optional<FtpPaths::Components> components = clientPath(name, raw);
    if (!components)
        return std::nullopt;
    return server_->root().locate(*components);
}

std::optional<QByteArray> FtpConnection::argumentPath(const QStringList &c) const
{
    return diskPath(fileNameFromArgs(c), msgRawName_);
}

int FtpConnection::openParent(const QByteArray &path, QByteArray *name) const
{
    if (path.isEmpty()) {
        errno = EINVAL;
        return -1;
    }
    qsizetype slash = path.lastIndexOf('/');
    *name = path.mid(slash + 1);
    return server_->root().open(slash < 0 ? QByteArray() : path.left(slash), O_PATH | O_DIRECTORY);
}

bool FtpConnection::entryIsReachable(const QByteArray &path) const
{
    QByteArray name;
    Fd parent(openParent(path, &name));
    struct stat st;
    if (!parent.ok() || fstatat(parent.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISLNK(st.st_mode))
        return true;
    // A link is handled only when it leads somewhere beneath the root (or nowhere).
    Fd target(server_->root().open(path, O_PATH));
    return target.ok() || (errno != EXDEV && errno != ELOOP);
}

bool FtpConnection::changedCurrentDirectoryTo(const QString &name, const QByteArray &raw)
{
    std::optional<QByteArray> path = diskPath(name, raw);
    if (!path)
        return false;
    Fd dir(server_->root().open(*path, O_PATH | O_DIRECTORY));
    if (!dir.ok() || faccessat(dir.get(), ".", X_OK, 0) != 0)
        return false;
    currentDir_ = path->isEmpty() ? QList<QByteArray>() : path->split('/');
    return true;
}

void FtpConnection::syntaxError()
{
    sendMessage(QStringLiteral("501 Syntax error in parameters or arguments."));
}

// ---- session

void FtpConnection::doQuit(const QStringList &)
{
    sendMessage(QStringLiteral("221- Data traffic for this session was 0 bytes in 0 files"));
    sendMessage(QStringLiteral("221 Thank you for using the FTP service on localhost."));
    quitting_ = true;
    abandonTransfer(false);
    // The connection leaves the server's list when the socket has closed, after both
    // lines have been written (or, if the client never reads them, after a grace time).
    connectionSocket_->disconnectAfterWriting();
    idleTimer_->start(NetLimits::kGoodbyeGraceMs);
}

void FtpConnection::doUser(const QStringList &c)
{
    if (c.size() < 2)
        return syntaxError();
    currentUser_ = c[1];
    sendMessage(QStringLiteral("331 Password required for %1").arg(currentUser_));
}

void FtpConnection::doPass(const QStringList &)
{
    sendMessage(QStringLiteral("230 User %1 logged in.").arg(currentUser_));
}

void FtpConnection::doSyst(const QStringList &)
{
    sendMessage(QStringLiteral("215 UNIX Type: L8 Version: Brookfern"));
}

void FtpConnection::doNoop(const QStringList &)
{
    sendMessage(QStringLiteral("200 NOOP command successful."));
}

void FtpConnection::doFeat(const QStringList &)
{
    sendMessage(QStringLiteral("211-Features supported"));
    if (server_->clientEncoding() == QStringConverter::Utf8)
        sendMessage(QStringLiteral(" UTF8"));
    sendMessage(QStringLiteral(" REST STREAM"));
    sendMessage(QStringLiteral(" SIZE"));
    sendMessage(QStringLiteral("211 End"));
}

void FtpConnection::doStat(const QStringList &)
{
    sendMessage(QStringLiteral("211-localhost FTP server status:"));
    sendMessage(QStringLiteral("211 End of Status"));
}

void FtpConnection::doType(const QStringList &c)
{
    if (c.size() < 2)
        return syntaxError();
    sendMessage(QStringLiteral("200 Type set to  %1.").arg(c[1]));
}

void FtpConnection::doOpts(const QStringList &c)
{
    if (c.size() < 2)
        return syntaxError();
    sendMessage(QStringLiteral("502 Unknown command '%1'").arg(c[1]));
}

// ---- directories

void FtpConnection::doPwd(const QStringList &)
{
    // The names as they are on disk, so that a client can use the path as it stands.
    QByteArray visible = FtpPaths::visible(currentDir_);
    if (server_->changeRoot() && !visible.endsWith('/'))
        visible += '/';
    sendReplyBytes("257 \"" + FtpCommandLine::quoted(visible) + "\" is the current directory.");
}

void FtpConnection::doCwd(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    if (changedCurrentDirectoryTo(name, msgRawName_))
        sendMessage(QStringLiteral("250 CWD command successful."));
    else
        sendMessage(QStringLiteral("550 CWD failed."));
}

void FtpConnection::doCdUp(const QStringList &)
{
    // At the root, CDUP stays there.
    QString up = currentDir_.isEmpty() ? QStringLiteral("/") : QStringLiteral("..");
    if (changedCurrentDirectoryTo(up, up.toUtf8()))
        sendMessage(QStringLiteral("250 CDUP command successful."));
    else
        sendMessage(QStringLiteral("550 CDUP command failed."));
}

void FtpConnection::doMkdir(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    std::optional<QByteArray> path = argumentPath(c);
    if (!path)
        return sendMessage(QStringLiteral("550 MKD command failed."));
    QByteArray last;
    Fd parent(openParent(*path, &last));
    struct stat st;
    if (path->isEmpty() || (parent.ok() && fstatat(parent.get(), last.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0))
        return sendMessage(QStringLiteral("550 Error %1 exists").arg(name));
    // Each folder is made inside its parent as opened beneath the root, missing
    // intermediate folders first.
    const QList<QByteArray> names = path->split('/');
    for (qsizetype i = 0; i < names.size(); i++) {
        Fd dir(server_->root().open(names.mid(0, i).join('/'), O_PATH | O_DIRECTORY));
        if (!dir.ok() || (mkdirat(dir.get(), names[i].constData(), 0755) != 0 && errno != EEXIST))
            return sendMessage(QStringLiteral("550 MKD command failed."));
    }
    sendMessage(QStringLiteral("250 MKD command successful."));
}

// ---- listings and transfers

void FtpConnection::doList(const QStringList &c)
{
    // Nothing is read before it is known that the listing can go anywhere.
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    QString name = fileNameFromArgs(c);
    // The current folder is resolved again too: it may have been swapped meanwhile.
    std::optional<QByteArray> path = name.isEmpty() ? std::optional(currentDir_.join('/')) : argumentPath(c);
    // A refused path lists like one that does not exist.
    int dir = path ? server_->root().open(*path, O_RDONLY | O_DIRECTORY) : -1;
    sendMessage(QStringLiteral("150 Opening ASCII mode data connection for '/bin/ls'."));
    queueSource(std::make_unique<FtpListingSource>(dir));
}

void FtpConnection::doRetr(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    const qint64 offset = restartOffset_;
    restartOffset_ = 0;
    std::optional<QByteArray> path = argumentPath(c);
    // Non-blocking, so that a FIFO cannot stall the server before it is turned away.
    int fd = path ? server_->root().open(*path, O_RDONLY | O_NONBLOCK | O_NOCTTY) : -1;
    if (fd < 0 && errno == EACCES)
        return sendMessage(QStringLiteral("550 %1: Permission denied.").arg(name));
    if (fd < 0)
        return sendMessage(QStringLiteral("550 %1 No such file or directory.").arg(name));
    auto source = std::make_unique<FtpFileSource>(fd, off_t(offset));
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return sendMessage(QStringLiteral("550 %1: Not a plain file.").arg(name));
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    if (offset > st.st_size)
        return sendMessage(QStringLiteral("554 Restart position beyond the end of the file."));
    sendMessage(QStringLiteral("150 Opening BINARY mode data connection for '%1'.").arg(name));
    // Read as the client takes it, never mapped: a file cut short by another client or
    // the user meanwhile must end the transfer, not the application.
    queueSource(std::move(source));
}

void FtpConnection::doStor(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    const qint64 offset = restartOffset_;
    restartOffset_ = 0;
    std::optional<QByteArray> path = argumentPath(c);
    QByteArray last;
    Fd parent(path ? openParent(*path, &last) : -1);
    struct stat st;
    bool exists = parent.ok() && fstatat(parent.get(), last.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    // Only plain files are written: never through a link, never into a FIFO or a device.
    if (!parent.ok() || (exists && !S_ISREG(st.st_mode)))
        return sendMessage(QStringLiteral("553 %1: Permission denied.").arg(name));
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    int fd = -1;
    if (offset > 0) {
        // A resumed upload goes on in the same file, from the given position.
        if (!exists || offset > st.st_size)
            return sendMessage(QStringLiteral("554 Restart position beyond the end of the file."));
        fd = openat(parent.get(), last.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && (ftruncate(fd, offset) != 0 || lseek(fd, offset, SEEK_SET) != offset)) {
            ::close(fd);
            fd = -1;
        }
    } else {
        // A new file replaces the old one rather than overwriting it in place: a
        // hard-linked original (the Inbox) and a client still reading the old bytes keep
        // them.
        if (!exists || unlinkat(parent.get(), last.constData(), 0) == 0 || errno == ENOENT)
            fd = openat(parent.get(), last.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (fd < 0)
        return sendMessage(QStringLiteral("553 %1: Permission denied.").arg(name));
    beginUpload(fd, name);
}

void FtpConnection::doAppe(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    restartOffset_ = 0;
    std::optional<QByteArray> path = argumentPath(c);
    QByteArray last;
    Fd parent(path ? openParent(*path, &last) : -1);
    if (!parent.ok())
        return sendMessage(QStringLiteral("553 %1: Permission denied.").arg(name));
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = openat(parent.get(), last.constData(), flags);
    if (fd < 0 && errno == ENOENT)
        fd = openat(parent.get(), last.constData(), flags | O_CREAT | O_EXCL, 0644);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        return sendMessage(QStringLiteral("553 %1: Permission denied.").arg(name));
    beginUpload(fd, name);
}

void FtpConnection::doRest(const QStringList &c)
{
    bool ok = false;
    qint64 offset = c.size() < 2 ? -1 : c[1].trimmed().toLongLong(&ok);
    if (!ok || offset < 0)
        return syntaxError();
    restartOffset_ = offset;
    sendMessage(QStringLiteral("350 Restarting at %1. Send STOR or RETR to go on from there.").arg(offset));
}

void FtpConnection::doAbor(const QStringList &)
{
    if (!transferBusy())
        return sendMessage(QStringLiteral("225 No transfer to abort."));
    abandonTransfer(true);
    sendMessage(QStringLiteral("226 ABOR command successful."));
}

void FtpConnection::doMlst(const QStringList &c)
{
    sendMessage(QStringLiteral("150 Opening BINARY mode data connection for '%1'.").arg(fileNameFromArgs(c)));
}

void FtpConnection::doSize(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    std::optional<QByteArray> path = argumentPath(c);
    Fd file(path ? server_->root().open(*path, O_PATH) : -1);
    struct stat st;
    if (!file.ok() || fstat(file.get(), &st) != 0)
        return sendMessage(QStringLiteral("550 %1 No such file or directory.").arg(name));
    // Every plain file has its size told: resuming clients take it as the point to go on
    // from, and take a refusal as a missing file.
    if (!S_ISREG(st.st_mode))
        return sendMessage(QStringLiteral("550 %1: Not a plain file.").arg(name));
    sendMessage(QStringLiteral("213 %1").arg(qulonglong(st.st_size)));
}

// ---- changes

void FtpConnection::doDele(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    // Never the served folder itself.
    std::optional<QByteArray> path = argumentPath(c);
    if (!path || path->isEmpty() || !entryIsReachable(*path))
        return sendMessage(QStringLiteral("550 %1 No such file or directory.").arg(name));
    QByteArray last;
    Fd parent(openParent(*path, &last));
    if (!parent.ok() || !removeTree(parent.get(), last.constData()))
        return sendMessage(QStringLiteral("550 DELE command unsuccessful."));
    sendMessage(QStringLiteral("250 DELE command successful."));
    server_->didReceiveFileListChanged();
}

void FtpConnection::doRnfr(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    // Remembered as names, looked up and checked again by RNTO; nothing is kept for a
    // refused or missing source.
    rnfrPath_.reset();
    std::optional<QByteArray> path = argumentPath(c);
    if (!path || path->isEmpty() || !entryIsReachable(*path))
        return sendMessage(QStringLiteral("550 RNFR command failed."));
    rnfrPath_ = FtpPaths::fromDisk(path->split('/'));
    sendMessage(QStringLiteral("350 RNFR command successful."));
}

void FtpConnection::doRnto(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (!rnfrPath_)
        return sendMessage(QStringLiteral("550 RNTO command failed."));
    if (name.isEmpty())
        return syntaxError();
    QByteArray source = server_->root().locate(*rnfrPath_);
    std::optional<QByteArray> target = argumentPath(c);
    if (source.isEmpty() || !entryIsReachable(source) || !target || target->isEmpty())
        return sendMessage(QStringLiteral("550 RNTO command failed."));
    QByteArray fromName, toName;
    Fd from(openParent(source, &fromName));
    Fd to(openParent(*target, &toName));
    if (!from.ok() || !to.ok() || !moveEntry(from.get(), fromName, to.get(), toName))
        return sendMessage(QStringLiteral("550 RNTO command failed."));
    sendMessage(QStringLiteral("250 RNTO command successful."));
    server_->didReceiveFileListChanged();
}

// ---- data connection set-up

void FtpConnection::doPasv(const QStringList &)
{
    transferMode_ = Passive;
    openDataSocket(0);
}

void FtpConnection::doEpsv(const QStringList &)
{
    transferMode_ = ExtendedPassive;
    openDataSocket(0);
}

static int portNumber(const QString &text)
{
    bool ok = false;
    int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;   // not a number reads as 0
}

void FtpConnection::startActive(int mode, int port)
{
    if (port <= 0 || port > 65535)
        return syntaxError();
    if (refusedPort(port))
        return sendMessage(QStringLiteral("500 Illegal PORT command."));
    transferMode_ = mode;
    openDataSocket(quint16(port));
}

void FtpConnection::doPort(const QStringList &c)
{
    // h1,h2,h3,h4,p1,p2: the host fields are not used.
    QStringList f = c.size() < 2 ? QStringList() : c[1].split(u',');
    if (f.size() < 6)
        return syntaxError();
    int high = portNumber(f[4]), low = portNumber(f[5]);
    if (high < 0 || high > 255 || low < 0 || low > 255)
        return syntaxError();
    startActive(Active, high * 256 + low);
}

void FtpConnection::doLprt(const QStringList &c)
{
    // af,hal,h1…,pal,p1,p2: the port bytes follow the hal address bytes (fields 19 and 20
    // for IPv6).
    QStringList f = c.size() < 2 ? QStringList() : c[1].split(u',');
    if (!f.isEmpty() && portNumber(f[0]) != 4 && portNumber(f[0]) != 6)
        return sendMessage(QStringLiteral("521 Supported address families are (4, 6)"));
    int hal = f.size() > 1 ? portNumber(f[1]) : -1;
    if (hal < 0 || hal > 16 || f.size() < hal + 5)
        return syntaxError();
    int high = portNumber(f[hal + 3]), low = portNumber(f[hal + 4]);
    if (high < 0 || high > 255 || low < 0 || low > 255)
        return syntaxError();
    startActive(LongActive, high * 256 + low);
}

void FtpConnection::doEprt(const QStringList &c)
{
    // |af|address|port|
    QStringList f = c.size() < 2 ? QStringList() : c[1].split(u'|');
    if (f.size() < 4 || f[1].trimmed().isEmpty())
        return syntaxError();
    QString family = f[1].trimmed();
    if (family != QLatin1String("1") && family != QLatin1String("2"))
        return sendMessage(QStringLiteral("522 Network protocol not supported, use (1,2)"));
    startActive(ExtendedActive, portNumber(f[3]));
}
