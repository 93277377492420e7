#include <QString>

#include "net/ftp_command_line.h"
#include "net/net_limits.h"
#include "support/test_support.h"

namespace {

struct Collected {
    std::vector<std::string> lines;
    int tooLong = 0;
};

FtpLineBuffer::Sink collector(Collected &c)
{
    return [&c](FtpLineBuffer::Event e, const QByteArray &line) {
        if (e == FtpLineBuffer::Event::TooLong)
            c.tooLong++;
        else
            c.lines.push_back(line.toStdString());
        return true;
    };
}

TEST(FtpLineBuffer, ReassemblesSplitLinesAndSplitsJoinedOnes)
{
    FtpLineBuffer buffer;
    Collected c;
    buffer.feed("US", collector(c));
    buffer.feed("ER a", collector(c));
    EXPECT_TRUE(c.lines.empty());
    buffer.feed("\r", collector(c));
    buffer.feed("\nNOOP\r\nPWD\r\nCWD x", collector(c));
    EXPECT_EQ(c.lines, (std::vector<std::string>{"USER a", "NOOP", "PWD"}));
    EXPECT_EQ(buffer.buffered(), 5);
    buffer.feed("\n\r\n", collector(c));   // a bare LF ends a line too; an empty line is a line
    EXPECT_EQ(c.lines, (std::vector<std::string>{"USER a", "NOOP", "PWD", "CWD x", ""}));
    EXPECT_EQ(c.tooLong, 0);
}

TEST(FtpLineBuffer, OverlongLinesAreReportedOnceAndNeverHeld)
{
    const qsizetype limit = NetLimits::kMaxCommandLine;
    FtpLineBuffer buffer;
    Collected c;
    // Exactly at the limit passes.
    buffer.feed(QByteArray(limit, 'a') + "\r\n", collector(c));
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_EQ(c.lines[0].size(), size_t(limit));

    // Ten megabytes without an end, in chunks: one report, nothing kept.
    QByteArray chunk(64 * 1024, 'x');
    for (int i = 0; i < 160; i++) {
        buffer.feed(chunk, collector(c));
        EXPECT_LE(buffer.buffered(), limit + 1);
    }
    EXPECT_EQ(c.tooLong, 1);
    EXPECT_EQ(buffer.buffered(), 0);
    // The end of the long line ends the discarding; the next line counts again.
    buffer.feed("tail\r\nNOOP\r\n", collector(c));
    EXPECT_EQ(c.lines.back(), "NOOP");
    EXPECT_EQ(c.lines.size(), 2u);
    // One byte over, ended in the same chunk.
    buffer.feed(QByteArray(limit + 1, 'b') + "\r\nPWD\r\n", collector(c));
    EXPECT_EQ(c.tooLong, 2);
    EXPECT_EQ(c.lines.back(), "PWD");
}

TEST(FtpLineBuffer, StopsWhenTheSinkSaysSo)
{
    FtpLineBuffer buffer;
    std::vector<std::string> seen;
    buffer.feed("QUIT\r\nDELE x\r\n", [&](FtpLineBuffer::Event, const QByteArray &line) {
        seen.push_back(line.toStdString());
        return false;
    });
    buffer.feed("NOOP\r\n", [&](FtpLineBuffer::Event, const QByteArray &line) {
        seen.push_back(line.toStdString());
        return true;
    });
    EXPECT_EQ(seen, std::vector<std::string>{"QUIT"});
    EXPECT_TRUE(buffer.stopped());
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
