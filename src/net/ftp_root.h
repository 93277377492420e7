// FtpRoot: the served folder, held open. Every file operation of the FTP server is made
// relative to this descriptor and resolved beneath it, so that what is checked is what is
// touched: a folder swapped for a link between two steps, or a path that was inside when
// a command began, cannot lead an operation out.
//
// Resolution follows symbolic links only while they stay beneath the root; an absolute
// link, or ".." above the root, fails with EXDEV. The kernel does it where it can
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS); elsewhere a walk opens one
// component at a time with O_NOFOLLOW and reads every link itself.
//
// Paths given here are relative to the root: names on disk (bytes) joined with "/", ""
// for the root itself. Client names become such paths in FtpConnection (FtpPaths).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class FtpRoot {
public:
    enum class Walk {
        Kernel,     // openat2 (chosen when the kernel has it)
        Portable,   // per-component O_NOFOLLOW walk
    };

    explicit FtpRoot(const QString &dir);
    ~FtpRoot();
    FtpRoot(const FtpRoot &) = delete;
    FtpRoot &operator=(const FtpRoot &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const QString &path() const { return path_; }

    // Opens `relative` beneath the root with open(2) flags (O_CLOEXEC is added; O_CREAT
    // is not supported: create relative to an opened parent). -1 with errno on failure.
    int open(const QByteArray &relative, int flags) const;

    // The names on disk for a client's path, one per component: for each, the first that
    // exists of the bytes the client sent (`raw`, may be empty), the UTF-8 of its text,
    // and an entry of that folder whose listed name reads as the same text. A component
    // found by none keeps the UTF-8 of its text (a name to create), and so do those after
    // it. The result is joined with "/".
    struct Component {
        QString text;
        QByteArray raw;
    };
    QByteArray locate(const QList<Component> &components) const;

    // How paths are resolved in this process; tests choose Portable to check the walk.
    static Walk walk();
    static void setWalk(Walk walk);
    static bool kernelResolves();   // openat2 with RESOLVE_BENEATH works here

private:
    int walkOpen(const QByteArray &relative, int flags) const;
    QByteArray findListedAs(int dirFd, const QStringList &texts) const;

    int fd_ = -1;
    QString path_;
};
