// The `ls -l`-like directory listing that LIST sends.
#pragma once

#include <map>

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>

#include <sys/types.h>

namespace FtpListing {

// A listing made piece by piece, so that a large folder is formatted as the data
// connection drains rather than all at once.
//
// "total N\r\n" comes first, then one line per entry not beginning with "." (ended by "\n"
// alone): type and permission letters, link count (entries directly inside a directory,
// at least 1, width 5), owner, group, size (width 10), "MMM dd HH:mm" in English and local
// time, the name. Entries are in the order the directory yields them and are not followed
// when they are symbolic links. The text is in composed form (NFC) and UTF-8, but for
// names that are not UTF-8, which are sent as the bytes they are, so that a client can
// name them back. Names holding CR or LF are left out: no client could name them, and
// they would counterfeit lines. An entry removed while the listing is made is skipped.
class Cursor {
public:
    // Takes the descriptor of an open directory (-1, or anything else: the empty listing).
    explicit Cursor(int dirFd);
    ~Cursor();
    Cursor(const Cursor &) = delete;
    Cursor &operator=(const Cursor &) = delete;

    // The next piece, holding at most `maxEntries` entry lines; empty at the end.
    QByteArray next(int maxEntries);
    int total() const { return int(names_.size()); }

private:
    QByteArray line(const QByteArray &name);
    QString owner(uid_t uid);
    QString group(gid_t gid);

    int dirFd_ = -1;
    QList<QByteArray> names_;
    qsizetype position_ = 0;
    bool headerSent_ = false;
    QLocale english_;
    std::map<uid_t, QString> owners_;
    std::map<gid_t, QString> groups_;
};

// The whole listing of a folder named by its path, as text (names that are not UTF-8
// come out with replacement characters).
QString createList(const QString &directory);

} // namespace FtpListing
