// The file information screen over real files: sizes, tags, rename, delete and play.
#include <QFile>

#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "ui/browse_fixture.h"
#include "ui/lm_file_view_controller.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/sample_library.h"

using namespace SettingsKeys;

namespace {

class FileInfoTest : public uitest::BrowseFixture {
protected:
    // The screen on `name`, pushed on a stack of its own.
    LMFileViewController *show(const QString &name)
    {
        nav = new NavigationController(ui.get(), new ScreenController(ui.get()), ui.get());
        auto *screen = new LMFileViewController(ui.get(), docsPath() + "/" + name);
        nav->push(screen, false);
        return screen;
    }
    NavigationController *nav = nullptr;
};

TEST_F(FileInfoTest, SizesAreShownInBytesKilobytesAndMegabytes)
{
    EXPECT_EQ(LMFileViewController::sizeText(0), "0 Bytes");
    EXPECT_EQ(LMFileViewController::sizeText(1023), "1023 Bytes");
    EXPECT_EQ(LMFileViewController::sizeText(1024), "1.0 KB");
    EXPECT_EQ(LMFileViewController::sizeText(1536), "1.5 KB");
    EXPECT_EQ(LMFileViewController::sizeText(1048575), "1024.0 KB");
    EXPECT_EQ(LMFileViewController::sizeText(1048576), "1.0 MB");
    // A file past 4 GiB keeps its size (sparse: it takes no disk space).
    launch();
    QFile big(docsPath() + "/big.bin");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(qint64(4.5 * 1024 * 1024 * 1024)));
    big.close();
    EXPECT_EQ(show("big.bin")->infoText(), "File Size : 4608.0 MB\n");
}

TEST_F(FileInfoTest, AudioFilesShowFormatAndTagsAndCanBePlayed)
{
    touch("notes.txt", "hello");
    ASSERT_TRUE(SampleLibrary::writeWav(docsPath() + "/song.wav", 1, "Tidewater", "Aster Vale", "Morning Light", 4));
    launch();
    ASSERT_TRUE(scan());
    LMFileViewController *text = show("notes.txt");
    EXPECT_EQ(text->title(), "File Info");
    EXPECT_EQ(titles(text), (QStringList{"Rename", "Delete"}));
    EXPECT_TRUE(text->table()->row(0, 0)->centered);
    EXPECT_EQ(text->table()->sections().at(0).header, "notes.txt");
    EXPECT_EQ(text->table()->sections().at(0).footer, "File Size : 5 Bytes");
    text->tapRow(0, 2);  // no Play row: nothing happens
    EXPECT_EQ(UserDefaults::integerForKey(Organize), 0);

    LMFileViewController *song = show("song.wav");
    EXPECT_EQ(titles(song), (QStringList{"Rename", "Delete", "Play"}));
    const QStringList lines = song->infoText().split('\n');
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines.mid(1, 5), (QStringList{"44100 Hz, 16 bit", "Title : Tidewater", "Artist : Aster Vale",
                                            "Album : Morning Light", "Track : 4"}));
    root()->showOrganize();  // play closes the menu on a phone
    song->tapRow(0, LMFileViewController::PlayRow);
    EXPECT_EQ(UserDefaults::integerForKey(Organize), OrganizeFile);
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFile), docsPath() + "/song.wav");
    EXPECT_EQ(ui->presenter()->count(), 0);
    EXPECT_EQ(root()->title(), "song.wav");
    EXPECT_EQ(root()->table()->rowsInSection(0), 1);
}

TEST_F(FileInfoTest, RenamingChecksTheNameAndRescansForLibraryFilesOnly)
{
    touch("cover.JPG");
    touch("notes.txt");
    touch("other.txt");
    launch();
    LMFileViewController *cover = show("cover.JPG");
    cover->onRename();
    ASSERT_NE(ui->alerts()->current(), nullptr);
    EXPECT_EQ(ui->alerts()->current()->enteredText(), "cover.JPG");
    quint64 before = scanRequests();
    EXPECT_EQ(answerAlert(1, "folder.jpg"), "Rename file");
    EXPECT_TRUE(exists("folder.jpg"));
    EXPECT_FALSE(exists("cover.JPG"));
    EXPECT_EQ(cover->table()->sections().at(0).header, "folder.jpg");
    EXPECT_EQ(scanRequests(), before + 1);  // covers are read beside the audio files

    LMFileViewController *notes = show("notes.txt");
    UserDefaults::setString(CurrentFile, docsPath() + "/notes.txt");
    before = scanRequests();
    notes->renameFile("notes2.txt");
    EXPECT_TRUE(exists("notes2.txt"));
    EXPECT_EQ(scanRequests(), before);
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFile), docsPath() + "/notes2.txt");
    notes->renameFile("other.txt");
    EXPECT_EQ(answerAlert(), "File already exists");
    EXPECT_TRUE(exists("notes2.txt") && exists("other.txt"));
    const QStringList names = hostileNames() << QString();
    for (const QString &name : names) {
        notes->renameFile(name);
        EXPECT_EQ(answerAlert(), "Can not rename file") << qPrintable(name);
    }
    expectNothingOutside();
    EXPECT_TRUE(exists("notes2.txt"));
}

TEST_F(FileInfoTest, DeletingAsksFirstAndRescansForAccessoryFiles)
{
    touch("disc.cue");
    touch("notes.txt");
    launch();
    for (const char *name : {"disc.cue", "notes.txt"}) {
        LMFileViewController *info = show(name);
        info->onDelete();
        EXPECT_EQ(answerAlert(0), "Delete file: Are you sure?");
        EXPECT_TRUE(exists(name));
        const quint64 before = scanRequests();
        info->onDelete();
        answerAlert(1);
        EXPECT_FALSE(exists(name));
        EXPECT_EQ(nav->depth(), 1);
        EXPECT_EQ(scanRequests(), before + (QString(name).endsWith(".cue") ? 1 : 0));
    }
}

} // namespace
