#include <cstdio>

#include "engine/lm_file.h"
#include "support/test_support.h"

namespace {

TEST(FileInterface, NullAndUnknownPathsOpenNothing)
{
    EXPECT_EQ(LMFileOpen(nullptr), nullptr);
    EXPECT_EQ(LMFileOpen("/nonexistent/no-dot-here"), nullptr);
    EXPECT_EQ(LMFileOpen("/nonexistent/song.flac2"), nullptr);
    EXPECT_EQ(LMFileOpen("/nonexistent/song.fla"), nullptr);
    EXPECT_EQ(LMFileOpen("/nonexistent/song.ogg"), nullptr);
}

TEST(FileInterface, WrappersAreNullSafe)
{
    LMFileClose(nullptr);
    EXPECT_EQ(LMFileSeek(nullptr, 1.0), 0);
    EXPECT_EQ(LMFileTell(nullptr), 0.0);
    char buf[4];
    EXPECT_EQ(LMFileRead(nullptr, buf, 4), 0);
}

TEST(FileInterface, FrameArithmeticClampsAndReachesTheEnd)
{
    LMFile f{};
    f.duration = 10.0;
    const uint64_t total = 441000;
    EXPECT_EQ(LMFileFrameForTime(&f, -5.0, total), 0u);
    EXPECT_EQ(LMFileFrameForTime(&f, 2.5, total), 110250u);
    EXPECT_EQ(LMFileFrameForTime(&f, 99.0, total), total);
    EXPECT_DOUBLE_EQ(LMFileTimeForFrame(&f, total, total), 10.0);
    EXPECT_DOUBLE_EQ(LMFileTimeForFrame(&f, 0, 0), 0.0);
    f.duration = 0;
    EXPECT_EQ(LMFileFrameForTime(&f, 3.0, total), 0u);
}

TEST(FileInterface, TagClearEmptiesEverything)
{
    LMTag tag{};
    EXPECT_TRUE(LMTagIsEmpty(&tag));
    tag.title = strdup("t");
    tag.picture = static_cast<unsigned char *>(malloc(3));
    tag.picture_size = 3;
    tag.year = 1999;
    EXPECT_FALSE(LMTagIsEmpty(&tag));
    LMTagClear(&tag);
    EXPECT_TRUE(LMTagIsEmpty(&tag));
}

} // namespace
