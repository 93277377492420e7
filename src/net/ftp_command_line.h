// The wire format of the FTP control connection, free of sockets: reassembling command
// lines from the bytes as they arrive, splitting a line into its components, and making
// reply texts safe to send.
#pragma once

#include <functional>

#include <QByteArray>
#include <QString>
#include <QStringList>

// Bytes in, lines out. A line ends at LF (the CR before it goes with the line-end
// trimming); it may arrive over any number of chunks, and one chunk may hold many lines.
// A line longer than NetLimits::kMaxCommandLine is reported once as too long and
// discarded up to its end, so at most one line's worth of bytes is ever held.
class FtpLineBuffer {
public:
    enum class Event { Line, TooLong };
    // Answer false to stop: the rest of this chunk and everything after is dropped.
    using Sink = std::function<bool(Event event, const QByteArray &line)>;

    void feed(const QByteArray &bytes, const Sink &sink);
    qsizetype buffered() const { return partial_.size(); }
    bool stopped() const { return stopped_; }

private:
    QByteArray partial_;
    bool discarding_ = false;
    bool stopped_ = false;
};

namespace FtpCommandLine {

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
QString quoted(const QString &name);

} // namespace FtpCommandLine
