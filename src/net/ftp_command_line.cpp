#include "net/ftp_command_line.h"

#include "library/character_encoding.h"
#include "net/net_limits.h"

void FtpLineBuffer::feed(const QByteArray &bytes, const Sink &sink)
{
    qsizetype pos = 0;
    const qsizetype size = bytes.size();
    while (pos < size && !stopped_) {
        qsizetype lf = bytes.indexOf('\n', pos);
        qsizetype end = lf < 0 ? size : lf;
        if (discarding_) {
            if (lf >= 0)
                discarding_ = false;
            pos = end + 1;
            continue;
        }
        // The CR that may end the line is allowed beyond the limit.
        if (partial_.size() + (end - pos) > NetLimits::kMaxCommandLine + 1) {
            partial_.clear();
            partial_.squeeze();
            discarding_ = lf < 0;
            pos = end + 1;
            if (!sink(Event::TooLong, QByteArray()))
                stopped_ = true;
            continue;
        }
        partial_.append(bytes.constData() + pos, end - pos);
        pos = end + 1;
        if (lf < 0)
            break;
        QByteArray line;
        line.swap(partial_);
        if (line.endsWith('\r'))
            line.chop(1);
        bool go = line.size() > NetLimits::kMaxCommandLine ? sink(Event::TooLong, QByteArray())
                                                           : sink(Event::Line, line);
        if (!go)
            stopped_ = true;
    }
}

namespace FtpCommandLine {

QString decode(const QByteArray &line)
{
    if (!line.contains('\0'))
        return CharacterEncoding::parseCString(line);
    QStringList parts;
    for (const QByteArray &part : line.split('\0'))
        parts.append(CharacterEncoding::parseCString(part));
    return parts.join(QChar(u'\0'));
}

static bool isLineEnd(QChar c)
{
    char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QStringList components(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isLineEnd(text[begin]))
        begin++;
    while (end > begin && isLineEnd(text[end - 1]))
        end--;
    QString line = text.mid(begin, end - begin);
    qsizetype space = line.indexOf(u' ');
    if (space < 0)
        return {line};
    return {line.left(space), line.mid(space + 1)};
}

QString fileNameFromArgs(const QStringList &components)
{
    QStringList names;
    for (qsizetype i = 1; i < components.size(); i++)
        if (!components[i].startsWith(u'-'))
            names.append(components[i]);
    return names.join(u' ');
}

bool hasHostileCharacters(const QString &name)
{
    for (QChar c : name)
        if (c == u'\0' || c == u'\r' || c == u'\n')
            return true;
    return false;
}

QString safeReply(const QString &reply)
{
    if (!hasHostileCharacters(reply))
        return reply;
    QString safe = reply;
    for (QChar &c : safe)
        if (c == u'\0' || c == u'\r' || c == u'\n')
            c = u' ';
    return safe;
}

QString quoted(const QString &name)
{
    QString q = name;
    return q.replace(u'"', QStringLiteral("\"\""));
}

} // namespace FtpCommandLine
