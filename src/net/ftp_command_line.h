// The wire format of the FTP control connection, free of sockets: reassembling command
// lines from the bytes as they arrive, splitting a line into its components, and making
// reply texts safe to send.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Bytes in, lines out, one at a time. A line ends at LF (the CR before it goes with the
// line-end trimming); it may arrive over any number of chunks, and one chunk may hold
// many lines, which are taken one by one. A line longer than NetLimits::kMaxCommandLine
// is reported once as too long and discarded up to its end, so at most one partial line
// is kept beyond the complete lines not yet taken.
class FtpLineBuffer {
public:
    enum class Event { Line, TooLong };

    void append(const QByteArray &bytes);
    // The next line (or too-long report); false when no complete one is waiting.
    bool next(Event *event, QByteArray *line);
    // Bytes held: complete lines not yet taken and the partial line.
    qsizetype buffered() const { return data_.size() - position_; }

private:
    QByteArray data_;
    qsizetype position_ = 0;
    bool discarding_ = false;
};

namespace FtpCommandLine {

// The line without a leading Telnet interrupt (IAC IP, IAC DM and the urgent DM byte),
// which clients send before ABOR.
QByteArray withoutTelnetInterrupt(const QByteArray &line);
// The bytes of the file name argument as the client sent them: the rest of the line
// after the first space, line ends trimmed; empty when it begins with "-" (an option).
QByteArray rawFileName(const QByteArray &line);
// The text of a line: decoded with the shared decoder (UTF-8 first, then the user's
// legacy encoding); NUL bytes survive as U+0000 so that callers can refuse them instead
// of acting on a shortened name.
QString decode(const QByteArray &line);
// [word] or [word, rest of line]: line-end characters trimmed from both ends, split at
// the first space.
QStringList components(const QString &text);
// The components from index 1 on that do not begin with "-", joined with single spaces.
QString fileNameFromArgs(const QStringList &components);
// True for a NUL, CR or LF: such a name can never be a file name here and could inject
// reply lines.
bool hasHostileCharacters(const QString &name);
// A reply line as it may go on the wire: CR, LF and NUL become spaces.
QString safeReply(const QString &reply);
// A directory name inside the double quotes of a 257 reply: quotes doubled.
QByteArray quoted(const QByteArray &name);

} // namespace FtpCommandLine
