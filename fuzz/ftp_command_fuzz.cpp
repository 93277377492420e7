// FTP control bytes, cut into chunks of every size: lines are reassembled and bounded,
// decoded and split, and every name a client could give resolves beneath the served
// folder or not at all, by the kernel's resolution and by the portable walk alike.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>

#include "net/ftp_command_line.h"
#include "net/ftp_paths.h"
#include "net/ftp_root.h"
#include "net/net_limits.h"

static QString gRoot;
static FtpRoot *gServed;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/lumenar-ftp-fuzz-XXXXXX";
    std::string base = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);   // the decoder's settings stay here
    mkdir((base + "/root").c_str(), 0700);
    mkdir((base + "/root/Music").c_str(), 0700);
    mkdir((base + "/root/Music/\xe9t\xe9").c_str(), 0700);
    mkdir((base + "/outside").c_str(), 0700);
    symlink((base + "/outside").c_str(), (base + "/root/out").c_str());
    symlink("..", (base + "/root/Music/up").c_str());
    symlink("../..", (base + "/root/Music/upup").c_str());
    symlink("loop", (base + "/root/Music/loop").c_str());
    symlink("../Music/up/Music", (base + "/root/Music/round").c_str());
    char *real = realpath((base + "/root").c_str(), nullptr);
    gRoot = QFile::decodeName(real);
    free(real);
    gServed = new FtpRoot(gRoot);
    return 0;
}

static bool inside(const QString &path)
{
    return path == gRoot || path.startsWith(gRoot + u'/');
}

static void checkLine(const QByteArray &bytes, FtpRoot::Walk walk)
{
    const QByteArray line = FtpCommandLine::withoutTelnetInterrupt(bytes);
    QStringList components = FtpCommandLine::components(FtpCommandLine::decode(line));
    if (FtpCommandLine::hasHostileCharacters(FtpCommandLine::safeReply(components.join(u' '))))
        abort();
    auto path = FtpPaths::normalise({"Music"}, FtpCommandLine::fileNameFromArgs(components),
                                    FtpCommandLine::rawFileName(line));
    if (!path)
        return;
    for (const FtpRoot::Component &c : *path)
        if (c.text == QLatin1String("..") || c.text == QLatin1String(".") || c.text.isEmpty())
            abort();
    FtpRoot::setWalk(walk);
    int fd = gServed->open(gServed->locate(*path), O_PATH);
    if (fd < 0)
        return;
    char target[4096];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    close(fd);
    if (n > 0 && !inside(QFile::decodeName(QByteArray(target, int(n)))))
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    FtpLineBuffer buffer;
    const size_t chunk = data[0] % 64 + 1;   // the first byte picks where chunks split
    const FtpRoot::Walk walk = (data[0] & 0x40) && FtpRoot::kernelResolves() ? FtpRoot::Walk::Kernel
                                                                              : FtpRoot::Walk::Portable;
    for (size_t pos = 1; pos < size; pos += chunk) {
        buffer.append(QByteArray(reinterpret_cast<const char *>(data + pos), qsizetype(std::min(chunk, size - pos))));
        FtpLineBuffer::Event event;
        QByteArray line;
        while (buffer.next(&event, &line)) {
            if (line.size() > NetLimits::kMaxCommandLine)
                abort();
            if (event == FtpLineBuffer::Event::Line)
                checkLine(line, walk);
        }
        if (buffer.buffered() > NetLimits::kMaxCommandLine + 1)
            abort();
    }
    return 0;
}
