#include "net/ftp_root.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>

#include "library/character_encoding.h"
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"

namespace {

// Links followed in one resolution, as the kernel allows.
constexpr int kMaxLinks = 40;
// openat2 answers EAGAIN when a rename elsewhere raced the walk; try again a few times.
constexpr int kRaceRetries = 8;

long openat2Call(int dirFd, const char *path, int flags)
{
    struct open_how how = {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return syscall(SYS_openat2, dirFd, path, &how, sizeof how);
}

bool probeKernel()
{
    int fd = int(openat2Call(AT_FDCWD, ".", O_PATH | O_DIRECTORY));
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::atomic<int> &walkChoice()
{
    static std::atomic<int> choice(probeKernel() ? int(FtpRoot::Walk::Kernel) : int(FtpRoot::Walk::Portable));
    return choice;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    int get() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

QList<QByteArray> splitPath(const QByteArray &path)
{
    QList<QByteArray> parts;
    for (const QByteArray &part : path.split('/'))
        if (!part.isEmpty() && part != ".")
            parts.append(part);
    return parts;
}

QByteArray readLink(int dirFd, const char *name)
{
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    ssize_t n = readlinkat(dirFd, name, target.data(), size_t(target.size()));
    if (n < 0 || n >= target.size())
        return QByteArray();
    target.truncate(n);
    return target;
}

// The text a client reads for a name in a listing: valid UTF-8 in composed form, other
// bytes as the shared decoder reads them back.
QString listedText(const QByteArray &name, unsigned preferred)
{
    QString text = CharacterEncoding::isValidUtf8(name) ? QString::fromUtf8(name)
                                                         : CharacterEncoding::parseCString(name, preferred);
    return text.normalized(QString::NormalizationForm_C);
}

bool isAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

FtpRoot::FtpRoot(const QString &dir) : path_(dir)
{
    fd_ = ::open(QFile::encodeName(dir).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

FtpRoot::~FtpRoot()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FtpRoot::Walk FtpRoot::walk()
{
    return Walk(walkChoice().load());
}

void FtpRoot::setWalk(Walk walk)
{
    walkChoice().store(int(walk));
}

bool FtpRoot::kernelResolves()
{
    static const bool works = probeKernel();
    return works;
}

int FtpRoot::open(const QByteArray &relative, int flags) const
{
    if (fd_ < 0 || (flags & O_CREAT)) {
        errno = EINVAL;
        return -1;
    }
    if (relative.contains('\0')) {
        errno = ENOENT;
        return -1;
    }
    if (walk() == Walk::Portable)
        return walkOpen(relative, flags);
    const char *path = relative.isEmpty() ? "." : relative.constData();
    for (int attempt = 0;; attempt++) {
        long fd = openat2Call(fd_, path, flags);
        if (fd >= 0 || errno != EAGAIN || attempt == kRaceRetries)
            return int(fd);
    }
}

// One component at a time from the root, never following a link by the kernel: each link
// is read and its target walked in its place, and ".." goes back to the folder the walk
// came from. The folders passed are held open, so none can be swapped under the walk.
int FtpRoot::walkOpen(const QByteArray &relative, int flags) const
{
    std::vector<Fd> stack;
    stack.emplace_back(fcntl(fd_, F_DUPFD_CLOEXEC, 0));
    if (stack.back().get() < 0)
        return -1;
    QList<QByteArray> pending = splitPath(relative);
    int links = 0;
    if (pending.isEmpty())
        return openat(stack.back().get(), ".", flags | O_CLOEXEC);

    while (!pending.isEmpty()) {
        QByteArray name = pending.takeFirst();
        if (name == "..") {
            if (stack.size() == 1) {
                errno = EXDEV;
                return -1;
            }
            stack.pop_back();
            if (pending.isEmpty())
                return openat(stack.back().get(), ".", flags | O_CLOEXEC);
            continue;
        }
        const int dir = stack.back().get();
        const bool last = pending.isEmpty();
        const int stepFlags = last ? (flags | O_NOFOLLOW) : (O_PATH | O_DIRECTORY | O_NOFOLLOW);
        Fd next(openat(dir, name.constData(), stepFlags | O_CLOEXEC));
        int error = errno;
        struct stat st;
        bool isLink = false;
        if (next.get() >= 0)
            isLink = (stepFlags & O_PATH) && fstat(next.get(), &st) == 0 && S_ISLNK(st.st_mode);
        else if (error == ELOOP || error == ENOTDIR)
            isLink = fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        if (!isLink) {
            if (next.get() < 0) {
                errno = error;
                return -1;
            }
            if (last)
                return next.release();
            stack.push_back(std::move(next));
            continue;
        }
        if (++links > kMaxLinks) {
            errno = ELOOP;
            return -1;
        }
        QByteArray target = readLink(dir, name.constData());
        if (target.isEmpty()) {
            errno = ENOENT;
            return -1;
        }
        if (target.startsWith('/')) {
            errno = EXDEV;
            return -1;
        }
        QList<QByteArray> expanded = splitPath(target);
        if (expanded.isEmpty() && pending.isEmpty())   // a link to its own folder, last
            return openat(dir, ".", flags | O_CLOEXEC);
        pending = expanded + pending;
    }
    errno = ENOENT;
    return -1;
}

QByteArray FtpRoot::findListedAs(int dirFd, const QStringList &texts) const
{
    int copy = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy >= 0 ? fdopendir(copy) : nullptr;
    if (dir == nullptr) {
        if (copy >= 0)
            ::close(copy);
        return QByteArray();
    }
    QStringList wanted;
    for (const QString &text : texts)
        wanted.append(text.normalized(QString::NormalizationForm_C));
    const unsigned preferred = unsigned(UserDefaults::integerForKey(SettingsKeys::PreferedEnc));
    QByteArray found;
    while (struct dirent *e = readdir(dir)) {
        QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        if (wanted.contains(listedText(name, preferred))) {
            found = name;
            break;
        }
    }
    closedir(dir);
    return found;
}

QByteArray FtpRoot::locate(const QList<Component> &components) const
{
    auto joined = [&](bool raw) {
        QList<QByteArray> names;
        for (const Component &c : components)
            names.append(raw ? c.raw : c.text.toUtf8());
        return names.join('/');
    };
    // Most names are found as sent.
    bool allRaw = true;
    for (const Component &c : components)
        allRaw = allRaw && !c.raw.isEmpty();
    QByteArray tried;
    for (bool raw : {true, false}) {
        if (raw && !allRaw)
            continue;
        QByteArray path = joined(raw);
        if (!raw && path == tried)
            break;   // the text is the bytes sent: already looked for
        Fd probe(open(path, O_PATH));
        if (probe.get() >= 0)
            return path;
        tried = path;
    }

    QList<QByteArray> names;
    bool missing = false;
    for (const Component &c : components) {
        QByteArray utf8 = c.text.toUtf8();
        if (missing) {
            names.append(utf8);
            continue;
        }
        Fd dir(open(names.join('/'), O_PATH | O_DIRECTORY));
        QByteArray chosen;
        struct stat st;
        const QByteArray candidates[] = {c.raw, utf8 != c.raw ? utf8 : QByteArray()};
        for (const QByteArray &candidate : candidates) {
            if (dir.get() >= 0 && !candidate.isEmpty() && !candidate.contains('/') &&
                fstatat(dir.get(), candidate.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                chosen = candidate;
                break;
            }
        }
        // Only a name with letters beyond ASCII can be listed in another form. The bytes
        // sent may be UTF-8 where the whole line was not (a listed name beside one that
        // is not UTF-8).
        QStringList texts = {c.text};
        if (!c.raw.isEmpty() && CharacterEncoding::isValidUtf8(c.raw) && QString::fromUtf8(c.raw) != c.text)
            texts.append(QString::fromUtf8(c.raw));
        bool plain = true;
        for (const QString &text : texts)
            plain = plain && isAscii(text);
        if (chosen.isEmpty() && dir.get() >= 0 && !plain)
            chosen = findListedAs(dir.get(), texts);
        if (chosen.isEmpty()) {
            missing = true;
            chosen = utf8;
        }
        names.append(chosen);
    }
    return names.join('/');
}
