#include <string>
#include <vector>

#include "engine/lrc_file.h"
#include "support/test_support.h"

namespace {

struct Line {
    float time;
    std::string text;
    bool operator==(const Line &o) const { return time == o.time && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const Line &l)
{
    return os << "{" << l.time << ", \"" << l.text << "\"}";
}

std::vector<Line> parse(const std::string &text)
{
    LRCFile *f = LRCFileParseBytes(text.data(), text.size());
    std::vector<Line> lines;
    for (LRCLine *l = f->lines; l; l = l->next)
        lines.push_back({l->time, l->text});
    EXPECT_EQ(size_t(f->count), lines.size());
    LRCFileFree(f);
    return lines;
}

TEST(LrcFile, TagsTimesAndText)
{
    EXPECT_EQ(parse("[00:12.00][01:30.50]Chorus\n"),
              (std::vector<Line>{{12.0f, "Chorus"}, {90.5f, "Chorus"}}));
    // The fraction is a count of hundredths, whatever its width.
    EXPECT_EQ(parse("[01:02.5]a\r\n[01:02.500]b\n"), (std::vector<Line>{{62.05f, "a"}, {67.0f, "b"}}));
    // Word timings and other bracket groups go, with the white space after them.
    EXPECT_EQ(parse("[00:10.00]<00:10.00>Hello <00:10.50>world\n"), (std::vector<Line>{{10.0f, "Hello world"}}));
    EXPECT_EQ(parse("  [00:01.00]   \tpadded\ttext\n"), (std::vector<Line>{{1.0f, "paddedtext"}}));
    // Metadata and untagged lines are ignored; so is a tag without a fraction.
    EXPECT_TRUE(parse("[ti:Title]\n[offset:250]\nplain words\n[00:12]no fraction\n").empty());
    EXPECT_TRUE(parse("").empty());
}

TEST(LrcFile, OrderIsByTimeWithEqualTimesReversed)
{
    EXPECT_EQ(parse("[00:20.00]late\n[00:05.00]early\n[00:10.00]one\n[00:10.00]two\n"),
              (std::vector<Line>{{5.0f, "early"}, {10.0f, "two"}, {10.0f, "one"}, {20.0f, "late"}}));
}

TEST(LrcFile, LongLinesContinueAndByteOrderMarkIsSkipped)
{
    std::string longText(600, 'x');
    auto lines = parse("[00:01.00]" + longText + "\n[00:00.50]" + longText.substr(0, 480) + "[00:02.00]cut\n");
    // 499 bytes fit the buffer; the rest of each line starts a fresh, untagged line.
    ASSERT_EQ(lines.size(), 1u + 1u);
    EXPECT_EQ(lines[0].time, 0.5f);
    EXPECT_EQ(lines[1].text, std::string(489, 'x'));
    EXPECT_EQ(parse("\xEF\xBB\xBF[00:03.00]first\n"), (std::vector<Line>{{3.0f, "first"}}));
}

TEST(LrcFile, LookupByIndexAndTime)
{
    const std::string text = "[00:05.00]a\n[00:10.00]b\n[00:15.00]c\n";
    LRCFile *f = LRCFileParseBytes(text.data(), text.size());
    EXPECT_EQ(LRCFileLineForTime(f, 4.99), -1);
    EXPECT_EQ(LRCFileLineForTime(f, 5.0), 0);
    EXPECT_EQ(LRCFileLineForTime(f, 12.0), 1);
    EXPECT_EQ(LRCFileLineForTime(f, 999.0), 2);
    EXPECT_STREQ(LRCFileLineAtIndex(f, 2)->text, "c");
    EXPECT_EQ(LRCFileLineAtIndex(f, 3), nullptr);
    EXPECT_EQ(LRCFileLineAtIndex(f, -1), nullptr);
    LRCFileFree(f);
    EXPECT_EQ(LRCFileLineForTime(nullptr, 1.0), -1);
    EXPECT_EQ(LRCFileParse("/nonexistent/file.lrc"), nullptr);
    LRCFileFree(nullptr);
}

TEST(LrcFile, SharedFixturesParse)
{
    LMTEST_REQUIRE_FIXTURES("lrc");
    const std::string dir = lmtest::fixturesDir() + "/lrc/";
    LRCFile *f = LRCFileParse((dir + "lrcparser-example_credits_ex.lrc").c_str());
    ASSERT_NE(f, nullptr);
    // The byte-order mark stands before a metadata tag here; the first timed line is 5.36 s.
    ASSERT_GT(f->count, 100);
    EXPECT_NEAR(f->lines->time, 5.36f, 1e-4);
    for (LRCLine *l = f->lines; l && l->next; l = l->next)
        EXPECT_LE(l->time, l->next->time);
    LRCFileFree(f);

    f = LRCFileParse((dir + "lrcparser-example-tags.lrc").c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_NEAR(f->lines->time, 83.0f + 4.56f, 1e-3);   // [01:23.456]: 456 hundredths
    LRCFileFree(f);
}

} // namespace
