// FTP control bytes, cut into chunks of every size: lines are reassembled and bounded,
// decoded, split, and every name a client could give resolves inside the served folder
// or not at all.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>

#include "net/ftp_command_line.h"
#include "net/ftp_paths.h"
#include "net/net_limits.h"

static QString gRoot;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/lumenar-ftp-fuzz-XXXXXX";
    std::string base = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);   // the decoder's settings stay here
    mkdir((base + "/root").c_str(), 0700);
    mkdir((base + "/root/Music").c_str(), 0700);
    mkdir((base + "/outside").c_str(), 0700);
    symlink((base + "/outside").c_str(), (base + "/root/out").c_str());
    symlink("..", (base + "/root/Music/up").c_str());
    symlink("../..", (base + "/root/Music/upup").c_str());
    char *real = realpath((base + "/root").c_str(), nullptr);
    gRoot = QFile::decodeName(real);
    free(real);
    return 0;
}

static bool checkLine(FtpLineBuffer::Event event, const QByteArray &line)
{
    if (event == FtpLineBuffer::Event::TooLong)
        return true;
    if (line.size() > NetLimits::kMaxCommandLine)
        abort();
    QStringList components = FtpCommandLine::components(FtpCommandLine::decode(line));
    QString name = FtpCommandLine::fileNameFromArgs(components);
    if (FtpCommandLine::hasHostileCharacters(FtpCommandLine::safeReply(components.join(u' '))))
        abort();
    QString joined = name.startsWith(u'/') ? gRoot + name : gRoot + QStringLiteral("/Music/") + name;
    for (FtpPaths::Target target : {FtpPaths::Target::Followed, FtpPaths::Target::Entry}) {
        QString path = FtpPaths::resolve(joined, gRoot, true, target, false);
        if (!path.isNull() && (!FtpPaths::isInside(path, gRoot) || path == gRoot))
            abort();
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    FtpLineBuffer buffer;
    const size_t chunk = data[0] % 64 + 1;   // the first byte picks where chunks split
    for (size_t pos = 1; pos < size; pos += chunk) {
        QByteArray bytes(reinterpret_cast<const char *>(data + pos), qsizetype(std::min(chunk, size - pos)));
        buffer.feed(bytes, checkLine);
        if (buffer.buffered() > NetLimits::kMaxCommandLine + 1)
            abort();
    }
    return 0;
}
