// Which LRC file belongs to an item, and its lines by time.
#include "platform/core/file_system_object.h"
#include "player/lyrics.h"
#include "player_support.h"

namespace {

PlayableItemPtr itemAt(const std::string &path, const QString &title)
{
    auto item = std::make_shared<PlayableItem>();
    item->setPath(QString::fromStdString(path));
    item->setTitle(title);
    item->setOwnFile(true);
    return item;
}

TEST(Lyrics, FoundByTitleInTheItemsFolderThenByTheFileName)
{
    lmtest::TempDir dir;
    const std::string audio = dir.file("01 - track.flac");
    PlayableItemPtr intro = itemAt(audio, "Intro");
    EXPECT_TRUE(Lyrics::pathForItem(*intro).isNull());

    lmtest::writeFile(dir.file("01 - track.lrc"), "[00:01.00]by file\n");
    EXPECT_EQ(Lyrics::pathForItem(*intro), QString::fromStdString(dir.file("01 - track.lrc")));
    lmtest::writeFile(dir.file("Intro.lrc"), "[00:01.00]by title\n");
    EXPECT_EQ(Lyrics::pathForItem(*intro), QString::fromStdString(dir.file("Intro.lrc")));

    // A title is never a path out of the folder.
    lmtest::writeFile(dir.path() + "/../lumenar-escape.lrc", "[00:01.00]outside\n");
    PlayableItemPtr sneaky = itemAt(dir.file("x.flac"), "../lumenar-escape");
    EXPECT_TRUE(Lyrics::pathForItem(*sneaky).isNull());
    std::remove((dir.path() + "/../lumenar-escape.lrc").c_str());
}

TEST(Lyrics, LinesByTimeDecodedWithAByteOrderMarkSkipped)
{
    lmtest::TempDir dir;
    lmtest::writeFile(dir.file("song.lrc"), "\xEF\xBB\xBF[00:02.00]Zwei\n[00:01.00]Eins\n[00:03.50]Dr\xC3\xA9i\n");
    Lyrics lyrics(QString::fromStdString(dir.file("song.lrc")));
    ASSERT_EQ(lyrics.count(), 3);
    EXPECT_EQ(lyrics.lineForTime(0.5), -1);
    EXPECT_EQ(lyrics.textAt(lyrics.lineForTime(0.5)), "");
    EXPECT_EQ(lyrics.textAt(lyrics.lineForTime(1.2)), "Eins");
    EXPECT_EQ(lyrics.textAt(lyrics.lineForTime(2.0)), "Zwei");
    EXPECT_EQ(lyrics.textAt(lyrics.lineForTime(99)), QString::fromUtf8("Dréi"));

    Lyrics none(QString::fromStdString(dir.file("missing.lrc")));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(none.lineForTime(5), -1);
}

} // namespace
