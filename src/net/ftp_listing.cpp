#include "net/ftp_listing.h"

#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace {

class Directory {
public:
    explicit Directory(DIR *dir) : dir_(dir) {}
    ~Directory()
    {
        if (dir_ != nullptr)
            closedir(dir_);
    }
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;
    DIR *get() const { return dir_; }

private:
    DIR *dir_;
};

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
    Directory dir(fdopendir(fd));
    if (dir.get() == nullptr) {
        close(fd);
        return 0;
    }
    int count = 0;
    while (struct dirent *e = readdir(dir.get()))
        if (!isDotOrDotDot(e->d_name))
            count++;
    return count;
}

class AccountNames {
public:
    QString owner(uid_t uid)
    {
        auto it = owners_.find(uid);
        if (it != owners_.end())
            return it->second;
        struct passwd pw, *found = nullptr;
        char buf[4096];
        QString name = getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr
                           ? QString::fromLocal8Bit(found->pw_name)
                           : QString::number(uid);
        owners_[uid] = name;
        return name;
    }
    QString group(gid_t gid)
    {
        auto it = groups_.find(gid);
        if (it != groups_.end())
            return it->second;
        struct group gr, *found = nullptr;
        char buf[4096];
        QString name = getgrgid_r(gid, &gr, buf, sizeof buf, &found) == 0 && found != nullptr
                           ? QString::fromLocal8Bit(found->gr_name)
                           : QString::number(gid);
        groups_[gid] = name;
        return name;
    }

private:
    std::map<uid_t, QString> owners_;
    std::map<gid_t, QString> groups_;
};

QString permissions(mode_t mode)
{
    static const char letters[] = "rwxrwxrwx";
    QString text(9, u'-');
    for (int i = 0; i < 9; i++)
        if (mode & (0400 >> i))
            text[i] = QLatin1Char(letters[i]);
    return text;
}

} // namespace

namespace FtpListing {

QString createList(const QString &directory)
{
    QStringList lines;
    Directory dir(directory.isEmpty() ? nullptr : opendir(QFile::encodeName(directory).constData()));
    if (dir.get() != nullptr) {
        const int dirFd = dirfd(dir.get());
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        AccountNames accounts;
        while (struct dirent *e = readdir(dir.get())) {
            if (e->d_name[0] == '.')
                continue;
            QString name = QFile::decodeName(e->d_name);
            if (name.contains(u'\r') || name.contains(u'\n'))
                continue;
            struct stat st;
            if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            bool isDir = S_ISDIR(st.st_mode);
            int links = isDir ? countEntries(dirFd, e->d_name) : 0;
            QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
            // Concatenated, not formatted: a name may hold "%1".
            lines.append(QChar(isDir ? u'd' : u'-') + permissions(st.st_mode) + u' ' +
                         QStringLiteral("%1").arg(qMax(links, 1), 5) + u' ' + accounts.owner(st.st_uid) + u' ' +
                         accounts.group(st.st_gid) + u' ' + QStringLiteral("%1").arg(qulonglong(st.st_size), 10) +
                         u' ' + english.toString(modified, QStringLiteral("MMM dd HH:mm")) + u' ' + name);
        }
    }
    QString text = QStringLiteral("total %1\r\n").arg(lines.size());
    for (const QString &line : lines)
        text += line + u'\n';
    return text.normalized(QString::NormalizationForm_C);
}

} // namespace FtpListing
