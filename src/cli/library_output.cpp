#include "cli/library_output.h"

#include <charconv>
#include <cstring>
#include <vector>
#include <cmath>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "library/music_library.h"
#include "platform/core/file_system_object.h"

namespace cli {

std::string jsonText(const QString &text)
{
    if (text.isNull())
        return "null";
    QByteArray utf8 = text.toUtf8();
    std::string out = "\"";
    for (char ch : utf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::string jsonNumber(float value)
{
    if (!std::isfinite(value))
        return "null";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

static const char *jsonBool(bool b)
{
    return b ? "true" : "false";
}

std::string itemJson(const PlayableItem &item)
{
    std::string s = "{";
    s += "\"title\":" + jsonText(item.title());
    s += ",\"tagtitle\":" + jsonText(item.tagtitle());
    s += ",\"path\":" + jsonText(item.path());
    s += ",\"ownFile\":" + std::string(jsonBool(item.ownFile()));
    s += ",\"trackNumber\":" + std::to_string(item.trackNumber());
    s += ",\"startTime\":" + jsonNumber(item.startTime());
    s += ",\"totalTime\":" + jsonNumber(item.totalTime());
    s += ",\"audioType\":" + std::to_string(item.audioType());
    s += ",\"album\":" + jsonText(item.album());
    s += ",\"artist\":" + jsonText(item.artist());
    s += ",\"genre\":" + jsonText(item.genre());
    s += ",\"year\":" + std::to_string(item.year());
    s += ",\"sampleRate\":" + std::to_string(item.sampleRate());
    s += ",\"bitsPerSample\":" + std::to_string(item.bitsPerSample());
    s += ",\"hasEmbeddedCoverImage\":" + std::string(jsonBool(item.hasEmbeddedCoverImage()));
    s += ",\"coverImagePath\":" + jsonText(item.coverImagePath());
    s += "}";
    return s;
}

namespace {

// Regular files per folder, listed once: looking up the covers of a whole library asks
// for two dozen names per item, nearly all of them absent.
class FolderIndex {
public:
    bool isFile(const QString &path)
    {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        return folder(slash >= 0 ? path.left(slash) : QStringLiteral(".")).names.contains(path.mid(slash + 1));
    }

    // False when no cover file can be found for the item: its folder holds no picture.
    bool mayHoldCover(const PlayableItem &item)
    {
        if (item.album().contains(QLatin1Char('/')))
            return true;   // the album names a file in another folder
        const qsizetype slash = item.path().lastIndexOf(QLatin1Char('/'));
        return slash < 0 || folder(item.path().left(slash)).pictures;
    }

private:
    struct Folder {
        QSet<QString> names;
        bool pictures = false;   // a name with a cover extension
    };

    const Folder &folder(const QString &path)
    {
        auto it = folders_.constFind(path);
        if (it == folders_.constEnd())
            it = folders_.insert(path, list(path));
        return *it;
    }

    // Names are kept only for a folder that holds a picture: the others answer no at once.
    static Folder list(const QString &path)
    {
        static const char *const kPictures[] = {"bmp", "BMP", "tif", "TIF", "png", "PNG",
                                                "jpg", "JPG", "jpeg", "JPEG", "gif", "GIF"};
        Folder f;
        const QByteArray encoded = QFile::encodeName(path);
        DIR *dir = opendir(encoded.constData());
        if (dir == nullptr)
            return f;
        std::vector<std::pair<QByteArray, unsigned char>> entries;
        while (struct dirent *e = readdir(dir)) {
            entries.emplace_back(QByteArray(e->d_name), e->d_type);
            const char *dot = strrchr(e->d_name, '.');
            for (const char *ext : kPictures)
                f.pictures |= dot != nullptr && strcmp(dot + 1, ext) == 0;
        }
        closedir(dir);
        if (!f.pictures)
            return f;
        for (const auto &[name, type] : entries) {
            struct stat st;
            const bool regular = type == DT_REG || ((type == DT_LNK || type == DT_UNKNOWN) &&
                                                    stat((encoded + '/' + name).constData(), &st) == 0 &&
                                                    S_ISREG(st.st_mode));
            if (regular)
                f.names.insert(QFile::decodeName(name));
        }
        return f;
    }

    QHash<QString, Folder> folders_;
};

} // namespace

void printItem(FILE *out, PlayableItem &item)
{
    static FolderIndex index;
    if (!item.coverImagePath().isNull() || index.mayHoldCover(item))
        item.coverImageFromFile([](const QString &path) { return index.isFile(path); });
    std::string line = itemJson(item);
    line += '\n';
    fwrite(line.data(), 1, line.size(), out);
}

bool useDocumentsFolder(const char *command, const char *dir)
{
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromLocal8Bit(dir)));
    QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        fprintf(stderr, "lumenar-cli %s: %s: not a readable folder\n", command, dir);
        return false;
    }
    FileSystemObject::setDocumentsDirectory(path);
    if (chdir(QFile::encodeName(path).constData()) != 0) {
        fprintf(stderr, "lumenar-cli %s: %s: cannot enter the folder\n", command, dir);
        return false;
    }
    return true;
}

bool scanLibrary(const char *command, PlayableItemList *library, bool useCache)
{
    static int argc = 1;
    static char name[] = "lumenar-cli";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);

    MusicLibrary scanner;
    scanner.setCacheEnabled(useCache);
    bool done = false;
    QEventLoop loop;
    QObject::connect(&scanner, &MusicLibrary::loadMusicsDone, &loop, [&] {
        done = true;
        loop.quit();
    });
    // A scan that ends without a result (the folder became unreadable) posts nothing.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (scanner.runningScans() == 0) {
            QCoreApplication::sendPostedEvents(&scanner);
            if (!done)
                loop.quit();
        }
    });
    watch.start(50);
    scanner.loadMusics();
    loop.exec();
    if (!done) {
        fprintf(stderr, "lumenar-cli %s: the scan of the documents folder gave no result\n", command);
        return false;
    }
    *library = scanner.playableItems();
    return true;
}

} // namespace cli
