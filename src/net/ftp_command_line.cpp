#include "net/ftp_command_line.h"

#include "library/character_encoding.h"
#include "net/net_limits.h"

void FtpLineBuffer::append(const QByteArray &bytes)
{
    qsizetype from = 0;
    if (discarding_) {
        // Still inside an over-long line: nothing of it is kept.
        qsizetype lf = bytes.indexOf('\n');
        if (lf < 0)
            return;
        discarding_ = false;
        from = lf + 1;
    }
    if (position_ > 0 && position_ == data_.size()) {
        data_.clear();
        position_ = 0;
    } else if (position_ > NetLimits::kMaxCommandLine && position_ * 2 > data_.size()) {
        data_.remove(0, position_);
        position_ = 0;
    }
    data_.append(bytes.constData() + from, bytes.size() - from);
}

bool FtpLineBuffer::next(Event *event, QByteArray *line)
{
    if (position_ >= data_.size()) {
        data_.clear();
        position_ = 0;
        return false;
    }
    qsizetype lf = data_.indexOf('\n', position_);
    qsizetype end = lf < 0 ? data_.size() : lf;
    // The CR that may end the line is allowed beyond the limit.
    if (end - position_ > NetLimits::kMaxCommandLine + 1) {
        if (lf < 0) {
            discarding_ = true;
            data_.clear();
            data_.squeeze();
            position_ = 0;
        } else {
            position_ = lf + 1;
        }
        *event = Event::TooLong;
        line->clear();
        return true;
    }
    if (lf < 0)
        return false;   // a partial line: wait for the rest
    *line = data_.mid(position_, end - position_);
    position_ = lf + 1;
    if (line->endsWith('\r'))
        line->chop(1);
    *event = line->size() > NetLimits::kMaxCommandLine ? Event::TooLong : Event::Line;
    return true;
}

namespace FtpCommandLine {

QByteArray withoutTelnetInterrupt(const QByteArray &line)
{
    qsizetype at = 0;
    for (;;) {
        auto byte = [&](qsizetype i) { return i < line.size() ? static_cast<unsigned char>(line[i]) : 0; };
        if (byte(at) == 0xFF && (byte(at + 1) == 0xF4 || byte(at + 1) == 0xF2))
            at += 2;
        else if (byte(at) == 0xF2 || byte(at) == 0xFF)
            at += 1;
        else
            return at == 0 ? line : line.mid(at);
    }
}

static bool isLineEndByte(char c)
{
    return c >= 0x0A && c <= 0x0D;
}

QByteArray rawFileName(const QByteArray &line)
{
    qsizetype begin = 0, end = line.size();
    while (begin < end && isLineEndByte(line[begin]))
        begin++;
    while (end > begin && isLineEndByte(line[end - 1]))
        end--;
    qsizetype space = line.indexOf(' ', begin);
    if (space < 0 || space >= end)
        return QByteArray();
    QByteArray name = line.mid(space + 1, end - space - 1);
    return name.startsWith('-') ? QByteArray() : name;
}

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

QByteArray quoted(const QByteArray &name)
{
    QByteArray q = name;
    return q.replace('"', "\"\"");
}

} // namespace FtpCommandLine
