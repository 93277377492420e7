#include "net/ftp_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>

#include "library/character_encoding.h"

namespace {

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Entries directly inside a directory, hidden ones included; 0 when it cannot be read.
int countEntries(int parentFd, const char *name)
{
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return 0;
    }
    int count = 0;
    while (struct dirent *e = readdir(dir))
        if (!isDotOrDotDot(e->d_name))
            count++;
    closedir(dir);
    return count;
}

QString permissions(mode_t mode)
{
    static const char letters[] = "rwxrwxrwx";
    QString text(9, u'-');
    for (int i = 0; i < 9; i++)
        if (mode & (0400 >> i))
            text[i] = QLatin1Char(letters[i]);
    return text;
}

bool isAscii(const QByteArray &bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

QByteArray composedUtf8(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C).toUtf8();
}

// An account's name, looked up once per listing; its number when it has none.
template <typename Id, typename Lookup>
QString cachedName(std::map<Id, QString> &cache, Id id, Lookup lookup)
{
    auto it = cache.find(id);
    if (it != cache.end())
        return it->second;
    char buf[4096];
    const char *found = lookup(id, buf, sizeof buf);
    QString name = found != nullptr ? QString::fromLocal8Bit(found) : QString::number(id);
    cache[id] = name;
    return name;
}

} // namespace

namespace FtpListing {

Cursor::Cursor(int dirFd) : english_(QLocale::English, QLocale::UnitedStates)
{
    int copy = dirFd >= 0 ? openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR *dir = copy >= 0 ? fdopendir(copy) : nullptr;
    if (dir == nullptr) {
        if (copy >= 0)
            close(copy);
        if (dirFd >= 0)
            close(dirFd);
        return;
    }
    dirFd_ = dirFd;
    // Names only: cheap even for a large folder. The expensive part, one stat and more
    // per entry, is done piece by piece.
    while (struct dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        QByteArray name(e->d_name);
        if (name.contains('\r') || name.contains('\n'))
            continue;
        names_.append(name);
    }
    closedir(dir);
}

Cursor::~Cursor()
{
    if (dirFd_ >= 0)
        close(dirFd_);
}

QString Cursor::owner(uid_t uid)
{
    return cachedName(owners_, uid, [](uid_t id, char *buf, size_t size) -> const char * {
        struct passwd entry, *found = nullptr;
        return getpwuid_r(id, &entry, buf, size, &found) == 0 && found != nullptr ? found->pw_name : nullptr;
    });
}

QString Cursor::group(gid_t gid)
{
    return cachedName(groups_, gid, [](gid_t id, char *buf, size_t size) -> const char * {
        struct group entry, *found = nullptr;
        return getgrgid_r(id, &entry, buf, size, &found) == 0 && found != nullptr ? found->gr_name : nullptr;
    });
}

QByteArray Cursor::line(const QByteArray &name)
{
    struct stat st;
    if (fstatat(dirFd_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return QByteArray();
    bool isDir = S_ISDIR(st.st_mode);
    int links = isDir ? countEntries(dirFd_, name.constData()) : 0;
    QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    // Concatenated, not formatted: a name may hold "%1".
    QString fields = QChar(isDir ? u'd' : u'-') + permissions(st.st_mode) + u' ' +
                     QStringLiteral("%1").arg(qMax(links, 1), 5) + u' ' + owner(st.st_uid) + u' ' +
                     group(st.st_gid) + u' ' + QStringLiteral("%1").arg(qulonglong(st.st_size), 10) + u' ' +
                     english_.toString(modified, QStringLiteral("MMM dd HH:mm")) + u' ';
    QByteArray text = composedUtf8(fields);
    if (isAscii(name) || !CharacterEncoding::isValidUtf8(name))
        text += name;
    else
        text += composedUtf8(QString::fromUtf8(name));
    return text + '\n';
}

QByteArray Cursor::next(int maxEntries)
{
    QByteArray piece;
    if (!headerSent_) {
        headerSent_ = true;
        piece = "total " + QByteArray::number(names_.size()) + "\r\n";
    }
    // An entry gone since the folder was read gives no line; only the end gives nothing.
    for (int n = 0; n < maxEntries && position_ < names_.size();) {
        const QByteArray entry = line(names_[position_++]);
        if (!entry.isEmpty()) {
            piece += entry;
            n++;
        }
    }
    return piece;
}

QString createList(const QString &directory)
{
    int fd = directory.isEmpty() ? -1 : open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Cursor cursor(fd);
    QByteArray all;
    for (QByteArray piece; !(piece = cursor.next(256)).isEmpty();)
        all += piece;
    return QString::fromUtf8(all);
}

} // namespace FtpListing
