#include "platform/core/atomic_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

namespace AtomicFile {

// Writes the bytes to a new hidden file in `dir`; answers its name, or an empty one.
static QByteArray writeTemporary(const QString &target, const QByteArray &bytes, mode_t mode)
{
    QFileInfo info(target);
    QByteArray temp = QFile::encodeName(info.path() + QStringLiteral("/.") + info.fileName()) + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    bool ok = true;
    // Every write is checked: a short write (full disk, size limit) is an error, not an end.
    for (qsizetype done = 0; ok && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += n;
    }
    ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        unlink(temp.constData());
        return QByteArray();
    }
    return temp;
}

bool replace(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return false;
    // Follow the whole chain of links: replacing a link on the way would cut the chain and
    // leave the file itself stale.
    QString target = path;
    for (int hops = 0; QFileInfo(target).isSymLink(); hops++) {
        target = QFileInfo(target).symLinkTarget();
        if (target.isEmpty() || hops == 40)   // the kernel's own limit of links in a row
            return false;
    }
    mode_t mode = 0644;
    struct stat st;
    if (stat(QFile::encodeName(target).constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        mode = st.st_mode & 07777;
    }
    QByteArray temp = writeTemporary(target, bytes, mode);
    if (temp.isEmpty())
        return false;
    if (rename(temp.constData(), QFile::encodeName(target).constData()) != 0) {
        unlink(temp.constData());
        return false;
    }
    return true;
}

bool createOnce(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return false;
    QByteArray name = QFile::encodeName(path);
    if (access(name.constData(), F_OK) == 0)
        return true;
    QByteArray temp = writeTemporary(path, bytes, 0644);
    if (temp.isEmpty())
        return false;
    // A hard link never replaces an existing name.
    if (link(temp.constData(), name.constData()) == 0 || errno == EEXIST) {
        unlink(temp.constData());
        return true;
    }
    // File systems without hard links (memory cards): check, then rename.
    bool ok = access(name.constData(), F_OK) == 0 || rename(temp.constData(), name.constData()) == 0;
    unlink(temp.constData());
    return ok;
}

} // namespace AtomicFile
