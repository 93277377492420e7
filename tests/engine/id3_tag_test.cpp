// The ID3 tag reader on tags built byte by byte.
#include <cstring>

#include "engine/lm_file.h"
#include "engine/lm_tag.h"
#include "support/audio_builders.h"
#include "support/test_support.h"

using namespace lmtest;

namespace {

// Parses a tag; the failed checks it wrote go to `checks` when given.
struct Parsed {
    Parsed() = default;
    Parsed(const Parsed &) = delete;
    ~Parsed() { LMTagClear(&tag); }
    int result = -1;
    LMTag tag{};
    std::vector<std::string> checks;
};

void parseV2(Parsed &p, const Bytes &block)
{
    StderrCapture capture;
    p.result = LMTagParseId3v2(&p.tag, block.data(), block.size());
    p.checks = failedChecks(capture.stop());
}

std::string text(const char *s)
{
    return s ? s : "(null)";
}

Bytes utf16le(const std::u16string &s, bool bom)
{
    Bytes out;
    if (bom)
        out = {0xFF, 0xFE};
    for (char16_t c : s)
        putLE(out, c, 2);
    return out;
}

Bytes utf16be(const std::u16string &s, bool bom)
{
    Bytes out;
    if (bom)
        out = {0xFE, 0xFF};
    for (char16_t c : s)
        putBE(out, c, 2);
    return out;
}

// A frame of every supported kind, in the version's own ids.
Bytes allFrames(int v)
{
    auto id = [v](const char *v34, const char *v2) { return std::string(v == 2 ? v2 : v34); };
    Bytes frames;
    append(frames, id3Frame(v, id("TIT2", "TT2"), id3Text(0, bytesOf("Title"))));
    append(frames, id3Frame(v, id("TPE1", "TP1"), id3Text(0, bytesOf("Artist"))));
    append(frames, id3Frame(v, id("TALB", "TAL"), id3Text(0, bytesOf("Album"))));
    append(frames, id3Frame(v, id("TCON", "TCO"), id3Text(0, bytesOf("(17)"))));
    append(frames, id3Frame(v, id("TYER", "TYE"), id3Text(0, bytesOf("1999"))));
    append(frames, id3Frame(v, id("TRCK", "TRK"), id3Text(0, bytesOf("7/12"))));
    Bytes comm = {0, 'e', 'n', 'g'};
    append(comm, bytesOf(std::string("d\0t", 3)));
    append(frames, id3Frame(v, id("COMM", "COM"), comm));
    Bytes pic = {0};
    append(pic, v == 2 ? bytesOf("JPG") : bytesOf(std::string("image/jpeg\0", 11)));
    append(pic, {3, 'c', 0, 0xFF, 0xD8, 0xFF, 0xD9});
    append(frames, id3Frame(v, id("APIC", "PIC"), pic));
    return frames;
}

TEST(Id3v2, EveryVersionReadsEveryField)
{
    for (int v : {2, 3, 4}) {
        Parsed p;
        parseV2(p, id3Tag(v, allFrames(v), 0, 32));
        ASSERT_EQ(p.result, 1) << v;
        EXPECT_TRUE(p.checks.empty());
        EXPECT_EQ(text(p.tag.title), "Title") << v;
        EXPECT_EQ(text(p.tag.artist), "Artist") << v;
        EXPECT_EQ(text(p.tag.album), "Album") << v;
        EXPECT_EQ(text(p.tag.genre), "Rock") << v;
        EXPECT_EQ(p.tag.year, 1999) << v;
        EXPECT_EQ(p.tag.track, 7) << v;
        EXPECT_EQ(text(p.tag.comment), "d=t") << v;
        ASSERT_EQ(p.tag.picture_size, 4) << v;
        EXPECT_EQ(Bytes(p.tag.picture, p.tag.picture + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xD9})) << v;
    }
}

TEST(Id3v2, RefusedBlocksLeaveTheTagEmpty)
{
    const std::string l = "*FAILED* check: lm_tag.cpp:N: ";
    Bytes v3 = id3Tag(3, allFrames(3));
    Bytes padded = v3;
    padded.push_back(0);
    Bytes v4 = id3Tag(4, allFrames(4));
    Bytes v4footer = v4;   // flagged footer that is not there
    v4footer[5] = 0x10;
    Bytes v5 = v3;
    v5[3] = 5;
    Bytes notId3 = v3;
    notId3[0] = 'X';
    struct Case {
        const char *what;
        Bytes block;
        std::string check;
    } cases[] = {
        {"13 bytes", Bytes(v3.begin(), v3.begin() + 13), l + "size >= 14"},
        {"not ID3", notId3, l + "strncmp(hdr->id, \"ID3\", 3) == 0"},
        {"bytes after the tag", padded, l + "hdr->size == size - 10"},
        {"cut short", Bytes(v3.begin(), v3.end() - 1), l + "hdr->size == size - 10"},
        {"missing footer", v4footer, l + "hdr->size == size - deduction"},
        {"version 5", v5, l + "0"},
    };
    for (const Case &c : cases) {
        Parsed p;
        p.tag.title = strdup("stale");   // cleared whatever the outcome
        parseV2(p, c.block);
        EXPECT_EQ(p.result, 0) << c.what;
        EXPECT_TRUE(LMTagIsEmpty(&p.tag)) << c.what;
        EXPECT_EQ(p.checks, std::vector<std::string>{c.check}) << c.what;
    }

    Bytes withFooter = v4;
    withFooter[5] = 0x10;
    append(withFooter, bytesOf("3DI"));
    withFooter.insert(withFooter.end(), v4.begin() + 3, v4.begin() + 10);
    Parsed p;
    parseV2(p, withFooter);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(text(p.tag.title), "Title");
}

TEST(Id3v2, TextEncodings)
{
    struct Case {
        const char *what;
        Bytes field;   // encoding byte + text
        std::string expected;
    } cases[] = {
        {"UTF-16 little-endian mark", {1, 0xFF, 0xFE, 'A', 0, 0, 0}, "A"},
        {"UTF-16 big-endian mark", {1, 0xFE, 0xFF, 0, 'A'}, "A"},
        {"UTF-16 without mark", id3Text(1, utf16le(u"Ab", false)), "Ab"},
        {"UTF-16 two and three bytes", id3Text(1, utf16be(u"é€", true)), "é€"},
        {"UTF-16 surrogate pair", id3Text(1, utf16le(u"a😀", true)), "a😀"},
        {"UTF-16 lone surrogate", id3Text(1, utf16le(std::u16string(1, char16_t(0xD800)) + u"x", true)), "\xEF\xBF\xBDx"},
        {"UTF-16 ends at a 0 unit", id3Text(1, utf16le(std::u16string(u"ab\0cd", 5), true)), "ab"},
        {"UTF-16 odd trailing byte", {1, 0xFF, 0xFE, 'A', 0, 'B'}, "A"},
        {"UTF-16BE", id3Text(2, utf16be(u"Zé", false)), "Zé"},
        {"Latin-1", {0, 'c', 'a', 'f', 0xE9}, "caf\xC3\xA9"},
        {"Latin-1 ends at 0", {0, 'a', 0, 'b'}, "a"},
        {"UTF-8", id3Text(3, bytesOf("Ünïcode ✓")), "Ünïcode ✓"},
        {"invalid UTF-8 read as Latin-1", {3, 'x', 0xE9}, "x\xC3\xA9"},
        {"unknown encoding as Latin-1", {9, 0xC4}, "\xC3\x84"},
    };
    for (const Case &c : cases) {
        Parsed p;
        parseV2(p, id3Tag(3, id3Frame(3, "TIT2", c.field)));
        EXPECT_EQ(text(p.tag.title), c.expected) << c.what;
    }
    // Texts without a character are absent.
    for (Bytes empty : {Bytes{0}, Bytes{1, 0xFF, 0xFE}, Bytes{1, 0xFF, 0xFE, 0, 0}, Bytes{0, 0, 'x'}}) {
        Parsed p;
        parseV2(p, id3Tag(3, id3Frame(3, "TPE1", empty) + id3Frame(3, "TIT2", {0, 'T'})));
        EXPECT_EQ(p.tag.artist, nullptr);
        EXPECT_EQ(text(p.tag.title), "T");
    }
}

TEST(Id3v2, FirstTextWinsLastNumberWins)
{
    Bytes frames = id3Frame(3, "TIT2", {0, 'a'}) + id3Frame(3, "TIT2", {0, 'b'}) +
                   id3Frame(3, "TRCK", id3Text(0, bytesOf("3/12"))) + id3Frame(3, "TRCK", {0, '4'}) +
                   id3Frame(3, "TYER", id3Text(0, bytesOf("2004-05-01"))) +
                   id3Frame(3, "TDRC", id3Text(0, bytesOf("2011-02-03T10:00"))) +
                   id3Frame(3, "TCON", {0, 'P', 'o', 'p'}) + id3Frame(3, "TCON", {0, 'J'});
    Parsed p;
    parseV2(p, id3Tag(3, frames));
    EXPECT_EQ(text(p.tag.title), "a");
    EXPECT_EQ(p.tag.track, 4);
    EXPECT_EQ(p.tag.year, 2011);
    EXPECT_EQ(text(p.tag.genre), "Pop");

    Parsed q;
    parseV2(q, id3Tag(4, id3Frame(4, "TRCK", id3Text(0, bytesOf("x1"))) +
                             id3Frame(4, "TYER", id3Text(0, bytesOf("99999999999")))));
    EXPECT_EQ(q.tag.track, 0);
    EXPECT_EQ(q.tag.year, INT32_MAX);
}

TEST(Id3v2, GenreReferences)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"(17)(6)", "Rock/Grunge"},
        {"(17)Rock", "Rock/Rock"},
        {"Pop(17)", "Pop/Rock"},
        {"17", "17"},
        {"(0)", "Blues"},
        {"(147)", "Synthpop"},
        {"(148)", "(null)"},
        {"Rock(200)x", "Rock"},
        {"(17", "Rock"},
        {"(17)(Pop)(02)", "Rock(Pop)/Country"},
        {"(x)", "(x)"},
        {"(67)", "Psychadelic"},
        {"(99999999999999)", "(null)"},
    };
    for (const Case &c : cases) {
        Parsed p;
        parseV2(p, id3Tag(3, id3Frame(3, "TCON", id3Text(0, bytesOf(c.in)))));
        EXPECT_EQ(text(p.tag.genre), c.out) << c.in;
    }
    // The result stays within 255 bytes without splitting a character.
    std::string longText;
    for (int i = 0; i < 200; i++)
        longText += "é";
    Parsed p;
    parseV2(p, id3Tag(3, id3Frame(3, "TCON", id3Text(3, bytesOf(longText)))));
    ASSERT_NE(p.tag.genre, nullptr);
    EXPECT_EQ(strlen(p.tag.genre), 254u);
    std::string refs = std::string(250, 'x') + "(17)";
    Parsed q;
    parseV2(q, id3Tag(3, id3Frame(3, "TCON", id3Text(0, bytesOf(refs)))));
    EXPECT_EQ(text(q.tag.genre), std::string(250, 'x'));
}

Bytes comm(uint8_t encoding, const Bytes &description, const Bytes &body)
{
    Bytes out = {encoding, 'e', 'n', 'g'};
    append(out, description);
    append(out, body);
    return out;
}

TEST(Id3v2, CommentsAreJoinedInFrameOrder)
{
    Bytes frames = id3Frame(3, "COMM", comm(0, bytesOf(std::string("d1\0", 3)), bytesOf("t1"))) +
                   id3Frame(3, "COMM", comm(0, bytesOf(std::string("d2\0", 3)), {})) +
                   id3Frame(3, "COMM", comm(0, {0}, bytesOf("plain"))) +
                   id3Frame(3, "COMM", comm(0, {0}, {})) +
                   id3Frame(3, "COMM", comm(1, utf16le(std::u16string(u"d\0", 2), true),
                                            utf16le(std::u16string(u"ü\0junk", 6), true)));
    Parsed p;
    parseV2(p, id3Tag(3, frames));
    EXPECT_EQ(text(p.tag.comment), "d1=t1;\nd2;\nplain;\nd=ü");
}

Bytes apic(const std::string &mime, uint8_t type, const Bytes &description, const Bytes &data,
           uint8_t encoding = 0)
{
    Bytes out = {encoding};
    append(out, bytesOf(mime));
    out.push_back(0);
    out.push_back(type);
    append(out, description);
    append(out, data);
    return out;
}

TEST(Id3v2, OnlyTheFirstFrontCoverIsTaken)
{
    const Bytes jpeg = {0xFF, 0xD8, 0x00, 0x01, 0xFF, 0xD9};
    const Bytes png = {0x89, 'P', 'N', 'G'};
    Bytes frames = id3Frame(3, "APIC", apic("image/png", 0, {0}, png)) +           // other
                   id3Frame(3, "APIC", apic("", 3, {0}, png)) +                     // no MIME type
                   id3Frame(3, "APIC", apic("image/png", 3, bytesOf("cover"), {})) + // no end of text
                   id3Frame(3, "APIC", apic("image/png", 3, {0}, {})) +             // no data
                   id3Frame(3, "APIC", apic("image/jpeg", 3, utf16le(std::u16string(u"c\0", 2), true), jpeg, 1)) +
                   id3Frame(3, "APIC", apic("image/png", 3, {0}, png));
    Parsed p;
    parseV2(p, id3Tag(3, frames));
    ASSERT_EQ(p.tag.picture_size, int32_t(jpeg.size()));
    EXPECT_EQ(Bytes(p.tag.picture, p.tag.picture + jpeg.size()), jpeg);

    // A cover without a description is still the cover; a PIC names its format in 3 bytes.
    Bytes pic = {0, 'P', 'N', 'G', 3, 0};
    append(pic, png);
    Parsed q;
    parseV2(q, id3Tag(2, id3Frame(2, "PIC", {0, 'P', 'N', 'G', 4, 0, 1}) + id3Frame(2, "PIC", pic)));
    ASSERT_EQ(q.tag.picture_size, 4);
    EXPECT_EQ(Bytes(q.tag.picture, q.tag.picture + 4), png);
}

TEST(Id3v2, Version4FrameSizesAreSynchsafeWithAPlainFallback)
{
    const std::string long300(300, 'L');
    // A 300-byte text frame (synchsafe 02 2D) followed by another frame.
    Bytes safe = id3Frame(4, "TIT2", id3Text(0, bytesOf(long300.substr(1)))) +
                 id3Frame(4, "TPE1", {0, 'A'});
    ASSERT_EQ(Bytes(safe.begin() + 4, safe.begin() + 8), (Bytes{0, 0, 2, 0x2C}));
    Parsed p;
    parseV2(p, id3Tag(4, safe, 0, 20));
    EXPECT_EQ(strlen(text(p.tag.title).c_str()), 299u);
    EXPECT_EQ(text(p.tag.artist), "A");

    // A writer that stored plain sizes: only the plain reading lands on the next frame.
    Bytes plain = id3Frame(4, "TIT2", id3Text(0, bytesOf(long300.substr(1))), 0, true) +
                  id3Frame(4, "TPE1", {0, 'B'}, 0, true);
    Parsed q;
    parseV2(q, id3Tag(4, plain, 0, 20));
    EXPECT_EQ(strlen(text(q.tag.title).c_str()), 299u);
    EXPECT_EQ(text(q.tag.artist), "B");

    // Size bytes with the high bit set cannot be synchsafe.
    Bytes highBit = id3Frame(4, "TIT2", id3Text(0, bytesOf(std::string(199, 'h'))), 0, true) +
                    id3Frame(4, "TALB", {0, 'C'}, 0, true);
    ASSERT_EQ(highBit[7], 0xC8);
    Parsed r;
    parseV2(r, id3Tag(4, highBit));
    EXPECT_EQ(text(r.tag.album), "C");

    // Version 3 sizes are plain integers.
    Parsed s;
    parseV2(s, id3Tag(3, id3Frame(3, "TIT2", id3Text(0, bytesOf(long300))) + id3Frame(3, "TPE1", {0, 'D'})));
    EXPECT_EQ(text(s.tag.artist), "D");
}

TEST(Id3v2, UnsynchronisationIsUndone)
{
    // Picture bytes full of FF E0 and FF 00 sequences, which unsynchronisation rewrites.
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xD9, 0xFF};
    const Bytes title = id3Text(1, utf16le(u"Hi", true));   // FF FE ...

    // Version 3: the whole tag, frame sizes counting the resynchronised bytes.
    Bytes frames = id3Frame(3, "TIT2", title) + id3Frame(3, "APIC", apic("image/jpeg", 3, {0}, jpeg));
    Parsed v3;
    parseV2(v3, id3Tag(3, unsynchronise(frames), 0x80));
    EXPECT_EQ(text(v3.tag.title), "Hi");
    ASSERT_EQ(v3.tag.picture_size, int32_t(jpeg.size()));
    EXPECT_EQ(Bytes(v3.tag.picture, v3.tag.picture + jpeg.size()), jpeg);

    // Version 4: frame by frame, sizes counting the stored bytes; with a data length
    // indicator in front and a grouping byte before that.
    Bytes data = {0x42};   // group
    append(data, synchsafe(uint32_t(apic("image/jpeg", 3, {0}, jpeg).size())));
    append(data, apic("image/jpeg", 3, {0}, jpeg));
    Bytes v4frames = id3Frame(4, "TIT2", unsynchronise(title), 0x0002) +
                     id3Frame(4, "APIC", unsynchronise(data), 0x0043);
    Parsed v4;
    parseV2(v4, id3Tag(4, v4frames));
    EXPECT_EQ(text(v4.tag.title), "Hi");
    ASSERT_EQ(v4.tag.picture_size, int32_t(jpeg.size()));
    EXPECT_EQ(Bytes(v4.tag.picture, v4.tag.picture + jpeg.size()), jpeg);

    // Version 4 with the tag's flag: every frame, flagged or not.
    Parsed all;
    parseV2(all, id3Tag(4, id3Frame(4, "TIT2", unsynchronise(title)), 0x80));
    EXPECT_EQ(text(all.tag.title), "Hi");
}

TEST(Id3v2, CompressedOrEncryptedFramesAreSkipped)
{
    Bytes frames = id3Frame(3, "TIT2", {0, 0, 0, 0, 9, 'x'}, 0x0080) +
                   id3Frame(3, "TPE1", {1, 0, 'y'}, 0x0040) +
                   id3Frame(3, "TALB", {7, 0, 'G', 'r'}, 0x0020) +   // group byte 7
                   id3Frame(3, "TIT2", {0, 'T'});
    Parsed v3;
    parseV2(v3, id3Tag(3, frames));
    EXPECT_EQ(text(v3.tag.title), "T");
    EXPECT_EQ(v3.tag.artist, nullptr);
    EXPECT_EQ(text(v3.tag.album), "Gr");

    Parsed v4;
    parseV2(v4, id3Tag(4, id3Frame(4, "TIT2", {0, 0, 0, 9, 0x78, 0x9C}, 0x0009) +
                              id3Frame(4, "TPE1", {0}, 0x0001) +   // data length cannot fit
                              id3Frame(4, "TALB", {0, 'Z'})));
    EXPECT_EQ(v4.tag.title, nullptr);
    EXPECT_EQ(v4.tag.artist, nullptr);
    EXPECT_EQ(text(v4.tag.album), "Z");
}

TEST(Id3v2, ExtendedHeadersAndMalformedFramesEndTheWalkQuietly)
{
    Bytes ext3 = {0, 0, 0, 6, 0, 0, 0, 0, 0, 0};   // size excludes its own 4 bytes
    Parsed v3;
    parseV2(v3, id3Tag(3, ext3 + id3Frame(3, "TIT2", {0, 'E'}), 0x40));
    EXPECT_EQ(text(v3.tag.title), "E");

    Bytes ext4 = {0, 0, 0, 6, 1, 0};   // synchsafe, includes its own 4 bytes
    Parsed v4;
    parseV2(v4, id3Tag(4, ext4 + id3Frame(4, "TIT2", {0, 'F'}), 0x40));
    EXPECT_EQ(text(v4.tag.title), "F");

    Bytes hugeExt = {0x7F, 0x7F, 0x7F, 0x7F};
    Parsed v4huge;
    parseV2(v4huge, id3Tag(4, hugeExt + id3Frame(4, "TIT2", {0, 'G'}), 0x40));
    EXPECT_EQ(v4huge.result, 1);
    EXPECT_TRUE(LMTagIsEmpty(&v4huge.tag));

    // A frame larger than what remains ends the walk; what came before stays.
    Bytes lying = id3Frame(3, "TIT2", {0, 'K'}) + bytesOf("TPE1") + Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 'x'};
    Parsed l;
    parseV2(l, id3Tag(3, lying));
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(text(l.tag.title), "K");
    EXPECT_EQ(l.tag.artist, nullptr);

    // A header cut off by the end of the tag, and padding, end it too.
    Parsed c;
    parseV2(c, id3Tag(2, id3Frame(2, "TT2", {0, 'Q'}) + bytesOf("TP1\x00")));
    EXPECT_EQ(text(c.tag.title), "Q");
}

TEST(Id3v1, FieldsAreCopiedAsStored)
{
    Bytes block = bytesOf("TAG");
    auto field = [&block](const std::string &s, size_t n) {
        Bytes b = bytesOf(s);
        b.resize(n, 0);
        append(block, b);
    };
    field("Caf\xE9", 30);
    field(std::string(30, 'A'), 30);   // fills its field: no terminator
    field("", 30);
    field("1987", 4);
    field("Comment", 28);
    block.push_back(0);
    block.push_back(5);
    block.push_back(67);
    ASSERT_EQ(block.size(), 128u);

    LMTag tag{};
    ASSERT_EQ(LMTagParseId3v1(&tag, block.data(), block.size()), 1);
    EXPECT_STREQ(tag.title, "Caf\xE9");
    EXPECT_EQ(std::string(tag.artist), std::string(30, 'A'));
    EXPECT_EQ(tag.album, nullptr);
    EXPECT_EQ(tag.year, 1987);
    EXPECT_STREQ(tag.comment, "Comment");
    EXPECT_EQ(tag.track, 5);
    EXPECT_STREQ(tag.genre, "Psychadelic");

    // Version 1.0: a 30-byte comment leaves no track number; genre 255 is none.
    std::fill(block.begin() + 97, block.begin() + 125, 'c');
    block[125] = 'x';
    block[126] = 'y';
    block[127] = 255;
    ASSERT_EQ(LMTagParseId3v1(&tag, block.data(), block.size()), 1);
    EXPECT_EQ(tag.track, 0);
    EXPECT_EQ(tag.genre, nullptr);
    EXPECT_EQ(strlen(tag.comment), 29u);

    block[0] = 'X';
    EXPECT_EQ(LMTagParseId3v1(&tag, block.data(), block.size()), 0);
    EXPECT_TRUE(LMTagIsEmpty(&tag));
    block[0] = 'T';
    EXPECT_EQ(LMTagParseId3v1(&tag, block.data(), 127), 0);
    LMTagClear(&tag);
}

TEST(Id3v1, GenreTableHasTheStandardNames)
{
    for (const char *name : LMGenreNames)
        ASSERT_NE(name, nullptr);
    EXPECT_STREQ(LMGenreNames[0], "Blues");
    EXPECT_STREQ(LMGenreNames[14], "R&B");
    EXPECT_STREQ(LMGenreNames[40], "Alternative Rock");
    EXPECT_STREQ(LMGenreNames[64], "Native US");
    EXPECT_STREQ(LMGenreNames[79], "Hard Rock");
    EXPECT_STREQ(LMGenreNames[80], "Folk");
    EXPECT_STREQ(LMGenreNames[85], "Bebob");
    EXPECT_STREQ(LMGenreNames[90], "Avantgarde");
    EXPECT_STREQ(LMGenreNames[123], "Acapella");
    EXPECT_STREQ(LMGenreNames[126], "Goa");
    EXPECT_STREQ(LMGenreNames[128], "Club - House");
    EXPECT_STREQ(LMGenreNames[129], "Hardcore");
    EXPECT_STREQ(LMGenreNames[132], "BritPop");
    EXPECT_STREQ(LMGenreNames[137], "Heavy Metal");
    EXPECT_STREQ(LMGenreNames[146], "JPop");
    EXPECT_STREQ(LMGenreNames[147], "Synthpop");
}

} // namespace
