// The ID3 tag reader on tags built byte by byte.
#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "engine/lm_tag.h"
#include "support/audio_builders.h"

using namespace lmtest;

namespace {

struct Parsed {
    explicit Parsed(const Bytes &block)
    {
        StderrCapture capture;
        result = LMTagParseId3v2(&tag, block.data(), block.size());
        checks = failedChecks(capture.stop());
    }
    Parsed(const Parsed &) = delete;
    ~Parsed() { LMTagClear(&tag); }
    std::string str(const char *s) const { return s ? s : "(null)"; }
    Bytes picture() const { return Bytes(tag.picture, tag.picture + tag.picture_size); }
    int result;
    LMTag tag{};
    std::vector<std::string> checks;
};

Bytes utf16(const std::u16string &s, int bom)   // bom: 0 none, 1 little-endian, 2 big-endian
{
    Bytes out = bom == 1 ? Bytes{0xFF, 0xFE} : bom == 2 ? Bytes{0xFE, 0xFF} : Bytes{};
    for (char16_t c : s)
        out = out + (bom == 2 ? be(c, 2) : le(c, 2));
    return out;
}

Bytes text(uint8_t encoding, const std::string &s) { return Bytes{encoding} + bytesOf(s); }
Bytes comm(const Bytes &description, const Bytes &body, uint8_t encoding = 0)
{
    return Bytes{encoding, 'e', 'n', 'g'} + description + body;
}
Bytes apic(const std::string &mime, uint8_t type, const Bytes &description, const Bytes &data, uint8_t encoding = 0)
{
    return Bytes{encoding} + bytesOf(mime) + Bytes{0, type} + description + data;
}

Bytes allFrames(int v)
{
    auto f = [v](const char *v34, const char *v2, const Bytes &data) { return id3Frame(v, v == 2 ? v2 : v34, data); };
    return f("TIT2", "TT2", text(0, "Title")) + f("TPE1", "TP1", text(0, "Artist")) +
           f("TALB", "TAL", text(0, "Album")) + f("TCON", "TCO", text(0, "(17)")) +
           f("TYER", "TYE", text(0, "1999")) + f("TRCK", "TRK", text(0, "7/12")) +
           f("COMM", "COM", comm({'d', 0}, {'t'})) +
           f("APIC", "PIC", v == 2 ? Bytes{0, 'J', 'P', 'G', 3, 0, 0xFF, 0xD8} : apic("image/jpeg", 3, {0}, {0xFF, 0xD8}));
}

TEST(Id3v2, EveryVersionReadsEveryField)
{
    for (int v : {2, 3, 4}) {
        Parsed p(id3Tag(v, allFrames(v), 0, 32));
        EXPECT_EQ(p.result, 1);
        EXPECT_EQ(p.str(p.tag.title) + p.str(p.tag.artist) + p.str(p.tag.album) + p.str(p.tag.genre) +
                      p.str(p.tag.comment), "TitleArtistAlbumRockd=t") << v;
        EXPECT_EQ(p.tag.year, 1999);
        EXPECT_EQ(p.tag.track, 7);
        EXPECT_EQ(p.picture(), (Bytes{0xFF, 0xD8}));
    }
}

TEST(Id3v2, RefusedBlocksLeaveTheTagEmpty)
{
    const std::string l = "*FAILED* check: lm_tag.cpp:N: ";
    const Bytes v3 = id3Tag(3, allFrames(3)), v4 = id3Tag(4, allFrames(4));
    Bytes footerMissing = v4, v5 = v3, notId3 = v3;
    footerMissing[5] = 0x10;
    v5[3] = 5;
    notId3[0] = 'X';
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(v3.begin(), v3.begin() + 13), l + "size >= 14"},
        {notId3, l + "strncmp(hdr->id, \"ID3\", 3) == 0"},
        {v3 + Bytes{0}, l + "hdr->size == size - 10"},   // bytes after the declared size
        {Bytes(v3.begin(), v3.end() - 1), l + "hdr->size == size - 10"},
        {footerMissing, l + "hdr->size == size - deduction"},
        {v5, l + "0"},
    };
    for (const auto &[block, check] : cases) {
        Parsed p(block);
        EXPECT_EQ(p.result, 0);
        EXPECT_TRUE(LMTagIsEmpty(&p.tag));
        EXPECT_EQ(p.checks, std::vector<std::string>{check});
    }
    Bytes footer = footerMissing + bytesOf("3DI") + Bytes(v4.begin() + 3, v4.begin() + 10);
    EXPECT_STREQ(Parsed(footer).tag.title, "Title");
}

TEST(Id3v2, TextEncodings)
{
    const std::pair<Bytes, std::string> cases[] = {
        {{1, 0xFF, 0xFE, 'A', 0, 0, 0}, "A"},
        {{1, 0xFE, 0xFF, 0, 'A'}, "A"},
        {Bytes{1} + utf16(u"Ab", 0), "Ab"},   // no mark: little-endian
        {Bytes{1} + utf16(u"é€", 2), "é€"},
        {Bytes{1} + utf16(u"a😀", 1), "a😀"},   // a surrogate pair is one character
        {Bytes{1} + utf16(std::u16string(1, char16_t(0xD800)) + u"x", 1), "\uFFFDx"},
        {Bytes{1} + utf16(std::u16string(u"ab\0cd", 5), 1), "ab"},
        {{1, 0xFF, 0xFE, 'A', 0, 'B'}, "A"},
        {{2, 0, 'Z', 0, 0xE9}, "Zé"},   // UTF-16BE, no mark
        {{0, 'c', 'a', 'f', 0xE9}, "caf\xC3\xA9"},
        {{0, 'a', 0, 'b'}, "a"},
        {text(3, "Ünïcode ✓"), "Ünïcode ✓"},
        {{3, 'x', 0xE9}, "x\xC3\xA9"},   // not UTF-8 after all: Latin-1
        {{9, 0xC4}, "\xC3\x84"},
        {{0}, "(null)"},
        {{1, 0xFF, 0xFE, 0, 0}, "(null)"},
        {{0, 0, 'x'}, "(null)"},
    };
    for (const auto &[field, expected] : cases) {
        Parsed p(id3Tag(3, id3Frame(3, "TIT2", field) + id3Frame(3, "TALB", text(0, "next"))));
        EXPECT_EQ(p.str(p.tag.title), expected);
        EXPECT_STREQ(p.tag.album, "next");
    }
}

TEST(Id3v2, FirstTextWinsLastNumberWins)
{
    Parsed p(id3Tag(3, id3Frame(3, "TIT2", text(0, "a")) + id3Frame(3, "TIT2", text(0, "b")) +
                           id3Frame(3, "TRCK", text(0, "3/12")) + id3Frame(3, "TRCK", text(0, "4")) +
                           id3Frame(3, "TYER", text(0, "2004-05-01")) + id3Frame(3, "TDRC", text(0, "2011-02")) +
                           id3Frame(3, "TCON", text(0, "Pop")) + id3Frame(3, "TCON", text(0, "Jazz"))));
    EXPECT_EQ(p.str(p.tag.title) + p.str(p.tag.genre), "aPop");
    EXPECT_EQ(p.tag.track, 4);
    EXPECT_EQ(p.tag.year, 2011);
    Parsed q(id3Tag(4, id3Frame(4, "TRCK", text(0, "x1")) + id3Frame(4, "TYER", text(0, "99999999999"))));
    EXPECT_EQ(q.tag.track, 0);
    EXPECT_EQ(q.tag.year, INT32_MAX);
}

TEST(Id3v2, GenreReferences)
{
    const std::pair<std::string, std::string> cases[] = {
        {"(17)(6)", "Rock/Grunge"}, {"(17)Rock", "Rock/Rock"}, {"Pop(17)", "Pop/Rock"}, {"17", "17"},
        {"(0)", "Blues"}, {"(147)", "Synthpop"}, {"(67)", "Psychadelic"}, {"(148)", "(null)"},
        {"Rock(200)x", "Rock"}, {"(17", "Rock"}, {"(17)(Pop)(02)", "Rock(Pop)/Country"}, {"(x)", "(x)"},
        {"(99999999999999)", "(null)"},
        {std::string(250, 'x') + "(17)", std::string(250, 'x')},   // the name would pass 253 bytes
    };
    for (const auto &[in, out] : cases) {
        Parsed p(id3Tag(3, id3Frame(3, "TCON", text(0, in))));
        EXPECT_EQ(p.str(p.tag.genre), out) << in;
    }
    std::string accents;
    for (int i = 0; i < 200; i++)
        accents += "é";
    Parsed p(id3Tag(3, id3Frame(3, "TCON", text(3, accents))));
    EXPECT_EQ(strlen(p.tag.genre), 254u);   // at most 255 bytes, whole characters
}

TEST(Id3v2, CommentsAreJoinedInFrameOrder)
{
    Parsed p(id3Tag(3, id3Frame(3, "COMM", comm(bytesOf(std::string("d1\0", 3)), bytesOf("t1"))) +
                           id3Frame(3, "COMM", comm(bytesOf(std::string("d2\0", 3)), {})) +
                           id3Frame(3, "COMM", comm({0}, bytesOf("plain"))) +
                           id3Frame(3, "COMM", comm({0}, {})) +
                           id3Frame(3, "COMM", comm(utf16(std::u16string(u"d\0", 2), 1),
                                                    utf16(std::u16string(u"ü\0junk", 6), 1), 1))));
    EXPECT_EQ(p.str(p.tag.comment), "d1=t1;\nd2;\nplain;\nd=ü");
}

TEST(Id3v2, OnlyTheFirstFrontCoverIsTaken)
{
    const Bytes jpeg = {0xFF, 0xD8, 0x00, 0xFF, 0xD9}, png = {0x89, 'P', 'N', 'G'};
    Parsed p(id3Tag(3, id3Frame(3, "APIC", apic("image/png", 0, {0}, png)) +          // not the front
                           id3Frame(3, "APIC", apic("", 3, {0}, png)) +                // no MIME type
                           id3Frame(3, "APIC", apic("image/png", 3, bytesOf("c"), {})) +   // no text end
                           id3Frame(3, "APIC", apic("image/png", 3, {0}, {})) +        // no data
                           id3Frame(3, "APIC", apic("image/jpeg", 3, utf16(std::u16string(u"c\0", 2), 1), jpeg, 1)) +
                           id3Frame(3, "APIC", apic("image/png", 3, {0}, png))));
    EXPECT_EQ(p.picture(), jpeg);
    Parsed q(id3Tag(2, id3Frame(2, "PIC", {0, 'P', 'N', 'G', 4, 0, 1}) + id3Frame(2, "PIC", Bytes{0, 'P', 'N', 'G', 3, 0} + png)));
    EXPECT_EQ(q.picture(), png);
}

TEST(Id3v2, Version4FrameSizesAreSynchsafeWithAPlainFallback)
{
    const Bytes long300 = text(0, std::string(299, 'L'));
    for (bool plain : {false, true}) {
        Bytes frames = id3Frame(4, "TIT2", long300, 0, plain) + id3Frame(4, "TPE1", text(0, "A"), 0, plain);
        ASSERT_EQ(Bytes(frames.begin() + 4, frames.begin() + 8), plain ? be(300, 4) : synchsafe(300));
        Parsed p(id3Tag(4, frames, 0, 20));
        EXPECT_EQ(strlen(p.tag.title), 299u);
        EXPECT_STREQ(p.tag.artist, "A");
    }
    // Size bytes with the high bit set cannot be synchsafe.
    Parsed h(id3Tag(4, id3Frame(4, "TIT2", text(0, std::string(199, 'h')), 0, true) +
                           id3Frame(4, "TALB", text(0, "C"), 0, true)));
    EXPECT_STREQ(h.tag.album, "C");
    Parsed v3(id3Tag(3, id3Frame(3, "TIT2", long300) + id3Frame(3, "TPE1", text(0, "D"))));
    EXPECT_STREQ(v3.tag.artist, "D");
}

TEST(Id3v2, UnsynchronisationAndFrameFlagsAreUndone)
{
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xD9, 0xFF};
    const Bytes hi = Bytes{1} + utf16(u"Hi", 1), cover = apic("image/jpeg", 3, {0}, jpeg);

    // Version 3: the whole tag; frame sizes count the resynchronised bytes.
    Parsed v3(id3Tag(3, unsynchronise(id3Frame(3, "TIT2", hi) + id3Frame(3, "APIC", cover)), 0x80));
    EXPECT_STREQ(v3.tag.title, "Hi");
    EXPECT_EQ(v3.picture(), jpeg);

    // Version 4: frame by frame, sizes counting the stored bytes, here behind a grouping
    // byte and a data length indicator; with the tag's flag, every frame.
    Bytes flagged = Bytes{0x42} + synchsafe(uint32_t(cover.size())) + cover;
    Parsed v4(id3Tag(4, id3Frame(4, "TIT2", unsynchronise(hi), 0x0002) +
                            id3Frame(4, "APIC", unsynchronise(flagged), 0x0043)));
    EXPECT_STREQ(v4.tag.title, "Hi");
    EXPECT_EQ(v4.picture(), jpeg);
    EXPECT_STREQ(Parsed(id3Tag(4, id3Frame(4, "TIT2", unsynchronise(hi)), 0x80)).tag.title, "Hi");

    // Compressed and encrypted frames cannot be read and are skipped; so is a frame too
    // short for its data length indicator.
    Parsed skip3(id3Tag(3, id3Frame(3, "TIT2", {0, 0, 0, 9, 0, 'x'}, 0x0080) +
                               id3Frame(3, "TPE1", {1, 0, 'y'}, 0x0040) +
                               id3Frame(3, "TALB", {7, 0, 'G'}, 0x0020) + id3Frame(3, "TIT2", text(0, "T"))));
    EXPECT_EQ(skip3.str(skip3.tag.title) + skip3.str(skip3.tag.artist) + skip3.str(skip3.tag.album), "T(null)G");
    Parsed skip4(id3Tag(4, id3Frame(4, "TIT2", {0, 0, 0, 9, 0x78, 0x9C}, 0x0009) +
                               id3Frame(4, "TPE1", {0}, 0x0001) + id3Frame(4, "TALB", text(0, "Z"))));
    EXPECT_EQ(skip4.str(skip4.tag.title) + skip4.str(skip4.tag.artist) + skip4.str(skip4.tag.album), "(null)(null)Z");
}

TEST(Id3v2, ExtendedHeadersAndMalformedFramesEndTheWalkQuietly)
{
    EXPECT_STREQ(Parsed(id3Tag(3, Bytes{0, 0, 0, 6} + Bytes(6, 0) + id3Frame(3, "TIT2", text(0, "E")), 0x40)).tag.title, "E");
    EXPECT_STREQ(Parsed(id3Tag(4, Bytes{0, 0, 0, 6, 1, 0} + id3Frame(4, "TIT2", text(0, "F")), 0x40)).tag.title, "F");
    Parsed huge(id3Tag(4, Bytes{0x7F, 0x7F, 0x7F, 0x7F} + id3Frame(4, "TIT2", text(0, "G")), 0x40));
    EXPECT_EQ(huge.result, 1);
    EXPECT_TRUE(LMTagIsEmpty(&huge.tag));
    // A frame larger than what remains, or a header cut off, ends the walk; what came
    // before stays.
    Parsed lying(id3Tag(3, id3Frame(3, "TIT2", text(0, "K")) + bytesOf("TPE1") + Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
    EXPECT_EQ(lying.str(lying.tag.title) + lying.str(lying.tag.artist), "K(null)");
    EXPECT_STREQ(Parsed(id3Tag(2, id3Frame(2, "TT2", text(0, "Q")) + bytesOf("TP1"))).tag.title, "Q");
}

TEST(Id3v1, FieldsAreCopiedAsStored)
{
    auto field = [](const std::string &s, size_t n) { Bytes b = bytesOf(s); b.resize(n, 0); return b; };
    Bytes block = bytesOf("TAG") + field("Caf\xE9", 30) + field(std::string(30, 'A'), 30) + field("", 30) +
                  field("1987x", 4) + field("Comment", 28) + Bytes{0, 5, 67};
    ASSERT_EQ(block.size(), 128u);
    LMTag tag{};
    ASSERT_EQ(LMTagParseId3v1(&tag, block.data(), block.size()), 1);
    EXPECT_STREQ(tag.title, "Caf\xE9");   // raw bytes, no conversion
    EXPECT_EQ(std::string(tag.artist), std::string(30, 'A'));
    EXPECT_EQ(tag.album, nullptr);
    EXPECT_EQ(tag.year, 1987);
    EXPECT_STREQ(tag.comment, "Comment");
    EXPECT_EQ(tag.track, 5);
    EXPECT_STREQ(tag.genre, "Psychadelic");

    // Version 1.0: the comment fills 30 bytes, so there is no track; genre 255 is none.
    std::fill(block.begin() + 97, block.begin() + 127, 'c');
    block[127] = 255;
    ASSERT_EQ(LMTagParseId3v1(&tag, block.data(), block.size()), 1);
    EXPECT_EQ(strlen(tag.comment), 29u);
    EXPECT_EQ(tag.track, 0);
    EXPECT_EQ(tag.genre, nullptr);

    block[0] = 'X';
    EXPECT_EQ(LMTagParseId3v1(&tag, block.data(), block.size()), 0);
    EXPECT_TRUE(LMTagIsEmpty(&tag));
    EXPECT_EQ(LMTagParseId3v1(&tag, block.data(), 127), 0);
}

} // namespace
