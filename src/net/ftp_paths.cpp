#include "net/ftp_paths.h"

#include "net/ftp_command_line.h"

namespace FtpPaths {

Components fromDisk(const QList<QByteArray> &names)
{
    Components components;
    for (const QByteArray &name : names)
        components.append({QString::fromUtf8(name), name});
    return components;
}

std::optional<Components> normalise(const QList<QByteArray> &base, const QString &text, const QByteArray &raw)
{
    if (FtpCommandLine::hasHostileCharacters(text))
        return std::nullopt;
    Components result = text.startsWith(u'/') ? Components() : fromDisk(base);
    const QStringList texts = text.split(u'/');
    QList<QByteArray> raws = raw.split('/');
    if (raws.size() != texts.size())
        raws = QList<QByteArray>(texts.size());   // the bytes do not line up: text only
    for (qsizetype i = 0; i < texts.size(); i++) {
        const QString &part = texts[i];
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (result.isEmpty())
                return std::nullopt;
            result.removeLast();
            continue;
        }
        result.append({part, raws[i]});
    }
    return result;
}

QByteArray visible(const QList<QByteArray> &names)
{
    return "/" + names.join('/');
}

} // namespace FtpPaths
