#include <QString>

#include "net/ftp_command_line.h"
#include "net/net_limits.h"
#include "support/test_support.h"

namespace {

struct Collected {
    std::vector<std::string> lines;
    int tooLong = 0;
};

// Appends the bytes and takes every line that is complete.
void feed(FtpLineBuffer &buffer, const QByteArray &bytes, Collected &c)
{
    buffer.append(bytes);
    FtpLineBuffer::Event event;
    QByteArray line;
    while (buffer.next(&event, &line)) {
        if (event == FtpLineBuffer::Event::TooLong)
            c.tooLong++;
        else
            c.lines.push_back(line.toStdString());
    }
}

TEST(FtpLineBuffer, ReassemblesSplitLinesAndSplitsJoinedOnes)
{
    FtpLineBuffer buffer;
    Collected c;
    feed(buffer, "US", c);
    feed(buffer, "ER a", c);
    EXPECT_TRUE(c.lines.empty());
    feed(buffer, "\r", c);
    feed(buffer, "\nNOOP\r\nPWD\r\nCWD x", c);
    EXPECT_EQ(c.lines, (std::vector<std::string>{"USER a", "NOOP", "PWD"}));
    EXPECT_EQ(buffer.buffered(), 5);
    feed(buffer, "\n\r\n", c);   // a bare LF ends a line too; an empty line is a line
    EXPECT_EQ(c.lines, (std::vector<std::string>{"USER a", "NOOP", "PWD", "CWD x", ""}));
    EXPECT_EQ(c.tooLong, 0);
}

TEST(FtpLineBuffer, LinesAreTakenOneAtATime)
{
    FtpLineBuffer buffer;
    buffer.append("QUIT\r\nDELE x\r\nNO");
    FtpLineBuffer::Event event;
    QByteArray line;
    ASSERT_TRUE(buffer.next(&event, &line));
    EXPECT_EQ(line, "QUIT");
    EXPECT_EQ(buffer.buffered(), 10);   // the rest waits until asked for
    ASSERT_TRUE(buffer.next(&event, &line));
    EXPECT_EQ(line, "DELE x");
    EXPECT_FALSE(buffer.next(&event, &line));
    buffer.append("OP\n");
    ASSERT_TRUE(buffer.next(&event, &line));
    EXPECT_EQ(line, "NOOP");
    EXPECT_EQ(buffer.buffered(), 0);
}

TEST(FtpLineBuffer, OverlongLinesAreReportedOnceAndNeverHeld)
{
    const qsizetype limit = NetLimits::kMaxCommandLine;
    FtpLineBuffer buffer;
    Collected c;
    // Exactly at the limit passes.
    feed(buffer, QByteArray(limit, 'a') + "\r\n", c);
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_EQ(c.lines[0].size(), size_t(limit));

    // Ten megabytes without an end, in chunks: one report, nothing kept.
    QByteArray chunk(64 * 1024, 'x');
    for (int i = 0; i < 160; i++) {
        feed(buffer, chunk, c);
        EXPECT_LE(buffer.buffered(), limit + 1);
    }
    EXPECT_EQ(c.tooLong, 1);
    EXPECT_EQ(buffer.buffered(), 0);
    // The end of the long line ends the discarding; the next line counts again.
    feed(buffer, "tail\r\nNOOP\r\n", c);
    EXPECT_EQ(c.lines.back(), "NOOP");
    EXPECT_EQ(c.lines.size(), 2u);
    // One byte over, ended in the same chunk.
    feed(buffer, QByteArray(limit + 1, 'b') + "\r\nPWD\r\n", c);
    EXPECT_EQ(c.tooLong, 2);
    EXPECT_EQ(c.lines.back(), "PWD");
}

TEST(FtpCommandLine, RawNamesAndTelnetInterrupts)
{
    using FtpCommandLine::rawFileName;
    EXPECT_EQ(rawFileName("RETR \xe9t\xe9 a.flac\r"), QByteArray("\xe9t\xe9 a.flac"));
    EXPECT_EQ(rawFileName("LIST -la"), QByteArray());
    EXPECT_EQ(rawFileName("PWD"), QByteArray());
    using FtpCommandLine::withoutTelnetInterrupt;
    EXPECT_EQ(withoutTelnetInterrupt("\xff\xf4\xff\xf2" "ABOR"), QByteArray("ABOR"));
    EXPECT_EQ(withoutTelnetInterrupt("\xff\xf4\xff" "ABOR"), QByteArray("ABOR"));   // the urgent byte taken apart
    EXPECT_EQ(withoutTelnetInterrupt("RETR \xff"), QByteArray("RETR \xff"));
}

TEST(FtpCommandLine, SplitsAtTheFirstSpaceAfterTrimmingLineEnds)
{
    using FtpCommandLine::components;
    EXPECT_EQ(components("STOR my song.flac"), (QStringList{"STOR", "my song.flac"}));
    EXPECT_EQ(components("\r\nNOOP\r\n"), QStringList{"NOOP"});
    EXPECT_EQ(components(QString("LIST\u2028")), QStringList{"LIST"});
    EXPECT_EQ(components("CWD "), (QStringList{"CWD", ""}));
    EXPECT_EQ(components(""), QStringList{""});

    using FtpCommandLine::fileNameFromArgs;
    EXPECT_EQ(fileNameFromArgs({"LIST", "-la"}), "");
    EXPECT_EQ(fileNameFromArgs({"LIST"}), "");
    EXPECT_EQ(fileNameFromArgs({"RETR", "a b"}), "a b");
}

TEST(FtpCommandLine, DecodingKeepsNulsSoThatNamesCannotBeShortened)
{
    QString text = FtpCommandLine::decode(QByteArray("RETR a\0.txt", 11));
    EXPECT_EQ(text.size(), 11);
    EXPECT_TRUE(FtpCommandLine::hasHostileCharacters(text));
    EXPECT_EQ(FtpCommandLine::decode("STOR caf\xc3\xa9"), QString::fromUtf8("STOR caf\xc3\xa9"));
    EXPECT_FALSE(FtpCommandLine::hasHostileCharacters("a name with spaces"));
    EXPECT_TRUE(FtpCommandLine::hasHostileCharacters("a\rb"));
    EXPECT_TRUE(FtpCommandLine::hasHostileCharacters("a\nb"));
}

} // namespace
