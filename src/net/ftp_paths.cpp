#include "net/ftp_paths.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

#include <QFile>

#include "net/ftp_command_line.h"

namespace fs = std::filesystem;

namespace FtpPaths {

QString join(const QString &dir, const QString &name)
{
    if (name.isEmpty())
        return dir;
    if (dir.endsWith(u'/'))
        return dir + name;
    return dir + u'/' + name;
}

bool isInside(const QString &path, const QString &root)
{
    if (root == QLatin1String("/"))
        return path.startsWith(u'/');
    return path == root || (path.startsWith(root) && path.size() > root.size() && path[root.size()] == u'/');
}

static fs::path encoded(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

static QString decoded(const fs::path &path)
{
    QString text = QFile::decodeName(QByteArray::fromStdString(path.native()));
    while (text.size() > 1 && text.endsWith(u'/'))
        text.chop(1);
    return text;
}

QString resolve(const QString &path, const QString &root, bool confined, Target target, bool allowRoot)
{
    if (FtpCommandLine::hasHostileCharacters(path) || !path.startsWith(u'/'))
        return QString();
    fs::path raw = encoded(path);
    fs::path name = raw.filename();
    bool entry = target == Target::Entry && !name.empty() && name != "." && name != "..";
    std::error_code ec;
    fs::path resolved;
    // Symbolic links and ".." are resolved by the file system, never as text, so what is
    // checked is what the operation will touch.
    if (entry) {
        fs::path parent = fs::weakly_canonical(raw.parent_path(), ec);
        if (ec)
            return QString();
        resolved = parent / name;
    } else {
        resolved = fs::weakly_canonical(raw, ec);
        if (ec)
            return QString();
    }
    QString result = decoded(resolved);
    if (!confined)
        return result;
    if (!isInside(result, root) || (!allowRoot && result == root))
        return QString();
    struct stat st;
    if (entry && lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        fs::path pointee = fs::weakly_canonical(resolved, ec);
        if (ec || !isInside(decoded(pointee), root))
            return QString();
    }
    return result;
}

} // namespace FtpPaths
