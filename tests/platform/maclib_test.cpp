#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/maclib/maclib.h"
#include "support/test_support.h"

namespace {

std::unique_ptr<wchar_t[]> wide(const char *utf8)
{
    return std::unique_ptr<wchar_t[]>(APEWideFromUTF8(utf8));
}

TEST(MacLibPaths, Utf8AndStrayBytesSurviveTheWideForm)
{
    auto w = wide("a\xc3\xa9\xe6\x9b\xb2\xf0\x9f\x8e\xb5");   // a, é, 曲, 🎵
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::wcscmp(w.get(), L"a\u00e9\u66f2\U0001F3B5"), 0);
    for (const char *text : {"plain.ape", "\xe9t\xe9.ape", "\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80", ""}) {
        auto w2 = wide(text);
        ASSERT_NE(w2, nullptr);
        char back[64];
        ASSERT_TRUE(APEUTF8FromWide(w2.get(), back, sizeof back)) << text;
        EXPECT_STREQ(back, text);
    }
    EXPECT_EQ(APEWideFromUTF8(nullptr), nullptr);
    char small[4];
    EXPECT_FALSE(APEUTF8FromWide(L"\u66f2\u66f2", small, sizeof small));   // never past the room
}

TEST(MacLibHeader, FrameCountAndSeekTableMustFitTheFile)
{
    // A 3.99 descriptor and header: 1 frame, a 4-byte seek table.
    uint8_t head[76] = {};
    memcpy(head, "MAC ", 4);
    head[4] = 0x96, head[5] = 0x0f;         // version 3990
    head[8] = 52;                           // descriptor length
    head[12] = 24;                          // header length
    head[16] = 4;                           // seek table bytes
    head[52 + 12] = 1;                      // total frames
    EXPECT_TRUE(APEHeaderIsPlausible(head, sizeof head, 1000));
    EXPECT_FALSE(APEHeaderIsPlausible(head, sizeof head, 60));   // shorter than its own header
    EXPECT_FALSE(APEHeaderIsPlausible(head, 60, 1000));          // header cut off
    head[52 + 15] = 0x40;                   // a billion frames in a small file
    EXPECT_FALSE(APEHeaderIsPlausible(head, sizeof head, 1000));
    head[52 + 15] = 0;
    head[19] = 0x80;                        // a 2 GiB seek table
    EXPECT_FALSE(APEHeaderIsPlausible(head, sizeof head, 1000));

    // An old header with a seek-element count.
    uint8_t old[40] = {};
    memcpy(old, "MAC ", 4);
    old[4] = 0x78, old[5] = 0x0f;           // version 3960
    old[8] = 16 | 4;                        // seek elements, peak level
    old[24] = 1;                            // total frames
    old[36] = 1;                            // seek elements
    EXPECT_TRUE(APEHeaderIsPlausible(old, sizeof old, 104));
    old[39] = 0x10;                         // 268 million seek elements
    EXPECT_FALSE(APEHeaderIsPlausible(old, sizeof old, 104));
    EXPECT_FALSE(APEHeaderIsPlausible(old, 36, 104));             // count cut off
    EXPECT_FALSE(APEHeaderIsPlausible(reinterpret_cast<const uint8_t *>("RIFF...."), 8, 100));
}

TEST(MacLibDecompress, RefusesOtherNamesAndKeepsItsPosition)
{
    LMTEST_REQUIRE_FIXTURES("ape");
    lmtest::TempDir dir;
    const std::string source = lmtest::fixturesDir() + "/ape/taglib-mac-399.ape";
    lmtest::writeFile(dir.file("x.wav"), lmtest::readFile(source));
    lmtest::writeFile(dir.file("x.mac"), lmtest::readFile(source));
    int error = 0;
    auto wav = wide(dir.file("x.wav").c_str());
    EXPECT_EQ(CreateIAPEDecompress(wav.get(), &error), nullptr);
    EXPECT_EQ(error, APE_ERROR_OPENING);
    EXPECT_EQ(CreateIAPEDecompress(nullptr, &error), nullptr);

    auto mac = wide(dir.file("x.mac").c_str());
    std::unique_ptr<IAPEDecompress> d(CreateIAPEDecompress(mac.get(), &error));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(error, APE_SUCCESS);
    EXPECT_EQ(d->GetInfo(APE_INFO_LENGTH_MS), 3550);
    EXPECT_EQ(d->GetInfo(APEInfoField(1)), 0);
    std::vector<uint8_t> buffer(4 * 1000);
    int64_t got = -1;
    EXPECT_EQ(d->GetData(nullptr, 10, &got), APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(d->Seek(156556 - 10), APE_SUCCESS);
    EXPECT_EQ(d->GetData(buffer.data(), 1000, &got), APE_SUCCESS);
    EXPECT_EQ(got, 10);
    EXPECT_EQ(d->Seek(1 << 30), APE_SUCCESS);   // clamped to the end
    EXPECT_EQ(d->GetData(buffer.data(), 1000, &got), APE_SUCCESS);
    EXPECT_EQ(got, 0);
}

} // namespace
