// The command handlers of FtpConnection: what each command word does and the exact
// reply lines. Every path a client names goes through confined(), the one place that
// keeps commands inside the served folder.
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "net/ftp_connection.h"
#include "net/ftp_server.h"
#include "net/net_limits.h"

namespace fs = std::filesystem;

using FtpCommandLine::fileNameFromArgs;

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool entryExists(const QString &path)
{
    struct stat st;
    return lstat(native(path).constData(), &st) == 0;
}

// Moves without replacing: an existing target makes the rename fail.
bool moveItem(const QString &from, const QString &to)
{
    QByteArray src = native(from), dst = native(to);
    if (renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without no-replace renames.
    struct stat st;
    if (lstat(dst.constData(), &st) == 0)
        return false;
    return ::rename(src.constData(), dst.constData()) == 0;
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

QString FtpConnection::rootedPath(const QString &name) const
{
    if (name.startsWith(u'/'))
        return server_->changeRoot() ? FtpPaths::join(server_->baseDir(), name) : name;
    return FtpPaths::join(currentDir_, name);
}

QString FtpConnection::makeFilePathFrom(const QString &name) const
{
    // Links are resolved by confined(), for files and directories alike.
    return rootedPath(name);
}

QString FtpConnection::confined(const QString &path, FtpPaths::Target target, bool allowRoot) const
{
    return FtpPaths::resolve(path, server_->baseDir(), server_->changeRoot(), target, allowRoot);
}

QString FtpConnection::visibleCurrentDir() const
{
    if (!server_->changeRoot() || currentDir_.size() < server_->baseDir().size())
        return currentDir_;
    QString visible = currentDir_.mid(server_->baseDir().size());
    if (!visible.startsWith(u'/'))
        visible.prepend(u'/');
    if (!visible.endsWith(u'/'))
        visible += u'/';
    return visible;
}

bool FtpConnection::changedCurrentDirectoryTo(const QString &name)
{
    // Checked without changing the process's working directory, which the library
    // scan resolves relative paths against.
    QString path = confined(rootedPath(name), FtpPaths::Target::Followed);
    if (path.isNull())
        return false;
    struct stat st;
    QByteArray raw = native(path);
    if (stat(raw.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || access(raw.constData(), X_OK) != 0)
        return false;
    currentDir_ = path;
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
    abandonTransfer();
    // The connection leaves the server's list when the socket has closed, after both
    // lines have been written.
    connectionSocket_->disconnectAfterWriting();
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
    sendMessage(QStringLiteral("257 \"%1\" is the current directory.").arg(FtpCommandLine::quoted(visibleCurrentDir())));
}

void FtpConnection::doCwd(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    if (changedCurrentDirectoryTo(name))
        sendMessage(QStringLiteral("250 CWD command successful."));
    else
        sendMessage(QStringLiteral("550 CWD failed."));
}

void FtpConnection::doCdUp(const QStringList &)
{
    QString visible = visibleCurrentDir();
    while (visible.size() > 1 && visible.endsWith(u'/'))
        visible.chop(1);
    qsizetype slash = visible.lastIndexOf(u'/');
    QString up = slash <= 0 ? QStringLiteral("/") : visible.left(slash);
    if (changedCurrentDirectoryTo(up))
        sendMessage(QStringLiteral("250 CDUP command successful."));
    else
        sendMessage(QStringLiteral("550 CDUP command failed."));
}

void FtpConnection::doMkdir(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    QString path = confined(makeFilePathFrom(name), FtpPaths::Target::Entry);
    if (path.isNull())
        return sendMessage(QStringLiteral("550 MKD command failed."));
    if (entryExists(path))
        return sendMessage(QStringLiteral("550 Error %1 exists").arg(name));
    std::error_code ec;
    fs::create_directories(fs::path(native(path).toStdString()), ec);
    if (ec)
        sendMessage(QStringLiteral("550 MKD command failed."));
    else
        sendMessage(QStringLiteral("250 MKD command successful."));
}

// ---- listings and transfers

void FtpConnection::doList(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    // A refused path lists like one that does not exist.
    QString dir = name.isEmpty() ? currentDir_ : confined(rootedPath(name), FtpPaths::Target::Followed);
    QString listing = server_->createList(dir);
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    sendMessage(QStringLiteral("150 Opening ASCII mode data connection for '/bin/ls'."));
    sendDataString(listing);
}

void FtpConnection::doRetr(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    QString path = confined(makeFilePathFrom(name), FtpPaths::Target::Followed);
    struct stat st;
    if (path.isNull() || stat(native(path).constData(), &st) != 0)
        return sendMessage(QStringLiteral("550 %1 No such file or directory.").arg(name));
    if (S_ISDIR(st.st_mode))
        return sendMessage(QStringLiteral("550 %1: Not a plain file.").arg(name));
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    // Non-blocking, so that a FIFO cannot stall the server before it is turned away.
    int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return sendMessage(QStringLiteral("550 %1: Permission denied.").arg(name));
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return sendMessage(QStringLiteral("550 %1: Not a plain file.").arg(name));
    }
    sendMessage(QStringLiteral("150 Opening BINARY mode data connection for '%1'.").arg(name));
    // Read in chunks as the client takes them, never mapped: a file cut short by another
    // client or the user meanwhile must end the transfer, not the application.
    sendFile(fd);
}

void FtpConnection::doStor(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    QString path = confined(makeFilePathFrom(name), FtpPaths::Target::Followed);
    if (path.isNull())
        return sendMessage(QStringLiteral("553 %1: Permission denied.").arg(name));
    if (!dataPathReady() || transferBusy())
        return sendMessage(QStringLiteral("425 Can't open data connection."));
    // A new file replaces the old one rather than overwriting it in place: a hard-linked
    // original (the Inbox) and a client still reading the old bytes keep them.
    QByteArray raw = native(path);
    int fd = -1;
    if (::unlink(raw.constData()) == 0 || errno == ENOENT)
        fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return sendMessage(QStringLiteral("553 %1: Permission denied.").arg(name));
    currentFile_ = path;
    currentFileHandle_ = fd;
    uploadFailed_ = false;
    transfer_ = Transfer::Receiving;
    sendMessage(QStringLiteral("150 Opening BINARY mode data connection for '%1'.").arg(name));
    if (dataConnection_ != nullptr)
        dataConnection_->setConnectionState(FtpDataConnection::AwaitingUpload);
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
    QString path = confined(makeFilePathFrom(name), FtpPaths::Target::Followed);
    struct stat st;
    if (path.isNull() || stat(native(path).constData(), &st) != 0)
        return sendMessage(QStringLiteral("550 %1 No such file or directory.").arg(name));
    if (st.st_size >= NetLimits::kSizeCommandLimit)
        return sendMessage(QStringLiteral("550 %1 file too large for SIZE.").arg(name));
    sendMessage(QStringLiteral("213 %1").arg(qulonglong(st.st_size)));
}

// ---- changes

void FtpConnection::doDele(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    // Never the served folder itself.
    QString path = confined(makeFilePathFrom(name), FtpPaths::Target::Entry, false);
    if (path.isNull() || !entryExists(path))
        return sendMessage(QStringLiteral("550 %1 No such file or directory.").arg(name));
    std::error_code ec;
    fs::remove_all(fs::path(native(path).toStdString()), ec);   // links are removed, not followed
    if (ec)
        return sendMessage(QStringLiteral("550 DELE command unsuccessful."));
    sendMessage(QStringLiteral("250 DELE command successful."));
    server_->didReceiveFileListChanged();
}

void FtpConnection::doRnfr(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (name.isEmpty())
        return syntaxError();
    rnfrFilename_ = confined(makeFilePathFrom(name), FtpPaths::Target::Entry, false);
    if (!rnfrFilename_.isNull() && entryExists(rnfrFilename_))
        sendMessage(QStringLiteral("350 RNFR command successful."));
    else
        sendMessage(QStringLiteral("550 RNFR command failed."));
}

void FtpConnection::doRnto(const QStringList &c)
{
    QString name = fileNameFromArgs(c);
    if (rnfrFilename_.isEmpty())
        return sendMessage(QStringLiteral("550 RNTO command failed."));
    if (name.isEmpty())
        return syntaxError();
    QString target = confined(makeFilePathFrom(name), FtpPaths::Target::Entry, false);
    if (target.isNull() || !moveItem(rnfrFilename_, target))
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
    if (f.size() < 4)
        return syntaxError();
    startActive(ExtendedActive, portNumber(f[3]));
}
