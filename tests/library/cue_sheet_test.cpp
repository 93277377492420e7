#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "library/cue_sheet.h"
#include "support/test_support.h"

namespace {

struct SheetDeleter {
    void operator()(LMCueSheet *s) const { LMCueSheetRelease(s); }
};
using Sheet = std::unique_ptr<LMCueSheet, SheetDeleter>;

Sheet parse(const std::string &text)
{
    return Sheet(LMCueSheetParseBytes(text.data(), text.size()));
}

std::string str(const char *s)
{
    return s ? s : "<none>";
}

TEST(CueSheet, TypicalSheetGivesIndex01StartsInWholeSeconds)
{
    Sheet s = parse("REM GENRE Rock\r\n"
                    "PERFORMER \"The Band\"\r\n"
                    "TITLE \"The Disc\"\r\n"
                    "FILE \"disc.flac\" WAVE\r\n"
                    "  TRACK 01 AUDIO\r\n"
                    "    TITLE \"One\"\r\n"
                    "    PERFORMER \"Guest\"\r\n"
                    "    INDEX 01 00:00:00\r\n"
                    "  TRACK 02 AUDIO\r\n"
                    "    TITLE \"Two\"\r\n"
                    "    INDEX 00 03:58:10\r\n"
                    "    INDEX 01 04:00:74\r\n"
                    "  TRACK 03 AUDIO\r\n"
                    "\tTITLE \"Three\"\r\n"
                    "\tINDEX 01 04:05:74\r\n"
                    "\tINDEX 02 09:00:00\r\n");
    ASSERT_TRUE(s);
    EXPECT_EQ(str(s->performer), "The Band");
    EXPECT_EQ(str(s->title), "The Disc");
    ASSERT_EQ(s->track_count, 3);
    EXPECT_EQ(str(s->tracks[0].title), "One");
    EXPECT_EQ(str(s->tracks[1].title), "Two");
    EXPECT_EQ(str(s->tracks[2].title), "Three");
    EXPECT_FLOAT_EQ(s->tracks[0].start, 0);
    EXPECT_FLOAT_EQ(s->tracks[1].start, 240);   // pre-gap INDEX 00 ignored, frames dropped
    EXPECT_FLOAT_EQ(s->tracks[2].start, 245);   // INDEX 02 ignored
    EXPECT_FLOAT_EQ(s->tracks[0].length, 240);
    EXPECT_FLOAT_EQ(s->tracks[1].length, 5);
    EXPECT_FLOAT_EQ(s->tracks[2].length, 0);    // the caller knows the file's length
}

TEST(CueSheet, DiscValuesComeOnlyFromTheFirstColumnAndTheFirstMatchWins)
{
    // An unindented PERFORMER inside a track before any disc-level one becomes the disc
    // performer; indented ones never count; later first-column ones do not replace it.
    Sheet s = parse("FILE \"x.wav\" WAVE\n"
                    "  TRACK 01 AUDIO\n"
                    "    PERFORMER \"Indented\"\n"
                    "    TITLE \"Track title\"\n"
                    "PERFORMER \"Unindented in track\"\n"
                    "PERFORMER \"Later\"\n"
                    "TITLE \"Disc\"\n"
                    "TITLE \"Second disc title\"\n"
                    "    INDEX 01 00:01:00\n");
    EXPECT_EQ(str(s->performer), "Unindented in track");
    EXPECT_EQ(str(s->title), "Disc");
    ASSERT_EQ(s->track_count, 1);
    // Track-level TITLE lines after leading blanks: the last one of the block wins.
    EXPECT_EQ(str(s->tracks[0].title), "Second disc title");
    EXPECT_FLOAT_EQ(s->tracks[0].start, 1);
}

TEST(CueSheet, GapsInTrackNumbersLeaveEmptyRecordsAndNegativeLengths)
{
    Sheet s = parse("TRACK 01 AUDIO\n TITLE \"a\"\n INDEX 01 01:00:00\n"
                    "TRACK 03 AUDIO\n TITLE \"c\"\n INDEX 01 05:00:00\n");
    ASSERT_EQ(s->track_count, 3);
    EXPECT_EQ(str(s->tracks[1].title), "c");
    EXPECT_EQ(s->tracks[2].title, nullptr);
    EXPECT_FLOAT_EQ(s->tracks[2].start, 0);
    EXPECT_FLOAT_EQ(s->tracks[0].length, 240);
    EXPECT_FLOAT_EQ(s->tracks[1].length, -300);

    // More TRACK lines than the highest number: the extra blocks are dropped.
    s = parse("TRACK 01\n TITLE \"a\"\nTRACK 01\n TITLE \"b\"\nTRACK 1\n TITLE \"c\"\n");
    ASSERT_EQ(s->track_count, 1);
    EXPECT_EQ(str(s->tracks[0].title), "a");
}

TEST(CueSheet, LongLinesAreSplitAtTheBufferAndTheTailIsALineOfItsOwn)
{
    // 600 characters: the first 499 bytes are one line, the rest another.
    std::string line(499, 'x');
    line += "TITLE \"Hidden in the tail\"";
    line += std::string(600 - line.size(), 'y');
    Sheet s = parse(line + "\nTRACK 01\n");
    EXPECT_EQ(str(s->title), "Hidden in the tail");

    // A quoted text longer than the buffer is cut at the buffer's end, never overruns.
    std::string longTitle(700, 'T');
    s = parse("TITLE \"" + longTitle + "\"\nTRACK 01\n    TITLE \"" + longTitle + "\"\n");
    ASSERT_NE(s->title, nullptr);
    EXPECT_EQ(strlen(s->title), 499u - 7u);
    ASSERT_EQ(s->track_count, 1);
    EXPECT_EQ(strlen(s->tracks[0].title), 499u - 11u);
}

TEST(CueSheet, PatternsFollowFormattedScanning)
{
    Sheet s = parse("PERFORMER \"\"\n"            // empty text: no match
                    "PERFORMER\t\"Tab\"\n"       // any white space after the keyword
                    "TITLE \"Unclosed\r\n"       // runs to the end of the line
                    "TRACKS 7\n"                  // not a TRACK line
                    "track 05\n"                  // keywords are case-sensitive
                    "  TRACK   02 AUDIO\n"
                    "    INDEX 01 1:2\n"          // no frames needed
                    "    INDEX 1 10 : 00\n");     // not an index: blank before the colon
    EXPECT_EQ(str(s->performer), "Tab");
    EXPECT_EQ(str(s->title), "Unclosed");
    ASSERT_EQ(s->track_count, 2);
    EXPECT_FLOAT_EQ(s->tracks[0].start, 62);
    EXPECT_EQ(s->tracks[1].title, nullptr);
}

TEST(CueSheet, HostileNumbersAndBytesStayBounded)
{
    // Absurd track numbers are not counted; huge minutes saturate instead of overflowing.
    Sheet s = parse("TRACK 2147483647999\nTRACK -5\nTRACK 999\n INDEX 01 99999999999:00\n");
    ASSERT_EQ(s->track_count, LMCueMaxTracks);
    EXPECT_GT(s->tracks[2].start, 1e9f);

    s = parse("TRACK 1000\n");
    EXPECT_EQ(s->track_count, 0);
    EXPECT_EQ(s->tracks, nullptr);

    // Zero bytes end a line's text; control bytes are just bytes.
    std::string withZero = std::string("PERFORMER \"A\0B\"\n", 16) + "TITLE \"\x10\x01\"\n";
    s = parse(withZero);
    EXPECT_EQ(str(s->performer), "A");
    EXPECT_EQ(str(s->title), "\x10\x01");

    // Ten thousand TRACK lines: records stay capped.
    std::string many;
    for (int i = 0; i < 10000; i++)
        many += "TRACK 07\n TITLE \"t\"\n";
    s = parse(many);
    EXPECT_EQ(s->track_count, 7);

    s = parse("");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->track_count, 0);
    EXPECT_EQ(s->performer, nullptr);
}

TEST(CueSheet, ByteOrderMarkBeforeTheFirstLineIsSkipped)
{
    Sheet s = parse("\xEF\xBB\xBFPERFORMER \"Artist\"\nTITLE \"Album\"\nTRACK 01\n");
    EXPECT_EQ(str(s->performer), "Artist");
    // Only at the very start.
    s = parse("TITLE \"x\"\n\xEF\xBB\xBFPERFORMER \"Artist\"\n");
    EXPECT_EQ(s->performer, nullptr);
}

TEST(CueSheet, PushedLinesGiveTheSameSheetAsTheFileReader)
{
    lmtest::TempDir dir;
    std::string text = "PERFORMER \"P\"\nTITLE \"T\"\nTRACK 01\n TITLE \"a\"\n INDEX 01 00:10:00\n"
                       "TRACK 02\n TITLE \"b\"\n INDEX 01 00:20:00\n";
    lmtest::writeFile(dir.file("s.cue"), text);
    Sheet fromFile(LMCueSheetParseFile(dir.file("s.cue").c_str()));
    LMCueParser *p = LMCueParserNew();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        LMCueParserFeed(p, text.data() + start, end - start + 1);
        start = end + 1;
    }
    Sheet pushed(LMCueParserFinish(p));
    ASSERT_TRUE(fromFile && pushed);
    ASSERT_EQ(fromFile->track_count, 2);
    ASSERT_EQ(pushed->track_count, 2);
    EXPECT_FLOAT_EQ(pushed->tracks[0].length, fromFile->tracks[0].length);
    EXPECT_EQ(str(pushed->tracks[1].title), str(fromFile->tracks[1].title));
    EXPECT_EQ(LMCueSheetParseFile(dir.file("missing.cue").c_str()), nullptr);
    // Only regular files: a FIFO would block the scan for good.
    ASSERT_EQ(mkfifo(dir.file("fifo.cue").c_str(), 0644), 0);
    EXPECT_EQ(LMCueSheetParseFile(dir.file("fifo.cue").c_str()), nullptr);
    EXPECT_EQ(LMCueSheetParseFile(dir.path().c_str()), nullptr);
}

TEST(CueSheet, RealSheetsFromOtherProjects)
{
    LMTEST_REQUIRE_FIXTURES("cue");
    const std::string dir = lmtest::fixturesDir() + "/cue/";
    auto file = [&](const char *name) { return Sheet(LMCueSheetParseFile((dir + name).c_str())); };

    // Every sheet parses without harm, however odd.
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        Sheet s(LMCueSheetParseFile(entry.path().c_str()));
        ASSERT_TRUE(s) << entry.path();
        EXPECT_GE(s->track_count, 0);
        EXPECT_LE(s->track_count, LMCueMaxTracks);
    }

    Sheet s = file("flacon-10_First_index00.cue");   // TRACK 01, 02, 09, 10
    ASSERT_EQ(s->track_count, 10);
    EXPECT_FLOAT_EQ(s->tracks[0].start, 3);
    EXPECT_FLOAT_EQ(s->tracks[1].start, 278);
    EXPECT_FLOAT_EQ(s->tracks[2].start, 10);
    EXPECT_FLOAT_EQ(s->tracks[3].start, 324);
    EXPECT_FLOAT_EQ(s->tracks[1].length, -268);
    EXPECT_EQ(str(s->tracks[3].title), "Track 2.2");
    EXPECT_EQ(s->tracks[4].title, nullptr);

    s = file("flacon-01_lower_case.cue");   // keywords are matched case-sensitively
    EXPECT_EQ(s->track_count, 0);
    EXPECT_EQ(s->performer, nullptr);

    s = file("flacon-bom-before-performer.cue");
    EXPECT_EQ(str(s->performer), "Nick Cave & The Bad Seeds");
    EXPECT_EQ(str(s->title), "Skeleton Tree");

    s = file("flacon-00_short.cue");   // INDEX 01 00:00:33: frames only
    ASSERT_GE(s->track_count, 1);
    EXPECT_FLOAT_EQ(s->tracks[0].start, 0);

    s = file("atl-cue.cue");
    ASSERT_EQ(s->track_count, 2);
    EXPECT_FLOAT_EQ(s->tracks[1].start, 3);

    s = file("deflacue-vys2-cp1251-2files.cue");   // raw CP1251 bytes kept as they are
    ASSERT_NE(s->title, nullptr);
    EXPECT_GE(static_cast<unsigned char>(s->title[0]), 0xC0);
}

} // namespace
