// The folder browser and the move screen over real temporary documents folders, through
// their controllers, opened from the organize menu as a user opens them.
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "ui/browse_fixture.h"
#include "ui/lm_file_view_controller.h"
#include "ui/lm_folder_view_controller.h"
#include "ui/lm_moving_view_controller.h"
#include "ui/navigation_controller.h"
#include "ui/organize_view_controller.h"
#include "ui/presenter.h"

using namespace SettingsKeys;

namespace {

class FolderBrowserTest : public uitest::BrowseFixture {
protected:
    NavigationController *menu() const { return root()->organizeNavigation(); }
    // The organize menu's "Files": the browser on the documents folder.
    LMFolderViewController *openFiles()
    {
        root()->showOrganize();
        menu()->top()->tapRow(0, OrganizeViewController::FilesRow);
        return qobject_cast<LMFolderViewController *>(menu()->top());
    }
    // Opens the folder row called `name` of the browser on top.
    LMFolderViewController *open(LMFolderViewController *browser, const QString &name)
    {
        browser->tapRow(0, int(titles(browser).indexOf(name)));
        return qobject_cast<LMFolderViewController *>(menu()->top());
    }
    // Ticks the rows of these names in select mode.
    static void tick(LMFolderViewController *browser, const QStringList &names)
    {
        for (const QString &name : names)
            browser->tapRow(0, int(titles(browser).indexOf(name)));
    }
    BarButton *toolbarButton(ScreenController *screen, const QString &name) const
    {
        for (QObject *o : screen->toolbarItems())
            if (o->objectName() == name)
                return qobject_cast<BarButton *>(o);
        return nullptr;
    }
};

TEST_F(FolderBrowserTest, ListsFoldersFirstThenFilesEachInCaseInsensitiveOrder)
{
    for (const char *d : {"Zed", "alpha"})
        mkdir(d);
    for (const char *f : {"b.flac", "A.mp3"})
        touch(f);
    for (bool tablet : {false, true}) {
        launch(tablet);
        LMFolderViewController *files = openFiles();
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(titles(files), (QStringList{"alpha", "Zed", "A.mp3", "b.flac"}));
        EXPECT_EQ(files->table()->row(0, 0)->accessory, CellAccessory::Disclosure);
        EXPECT_EQ(files->table()->row(0, 2)->accessory, CellAccessory::None);
        EXPECT_EQ(files->title(), "All");
        EXPECT_EQ(files->titleButton(), nullptr);  // the documents folder is not renamed
        // The phone's way back to the list; a tablet's popover is closed by a tap outside.
        EXPECT_EQ(files->rightButton() != nullptr, !tablet);
        // Folders open their own browser, titled with a button that renames them.
        LMFolderViewController *zed = open(files, "Zed");
        ASSERT_NE(zed, nullptr);
        EXPECT_EQ(zed->title(), "Zed");
        ASSERT_NE(zed->titleButton(), nullptr);
        EXPECT_EQ(zed->titleButton()->text(), "Zed");
        zed->goBack();
        files->tapRow(0, 2);  // a file opens its information
        EXPECT_NE(qobject_cast<LMFileViewController *>(menu()->top()), nullptr);
        mainWindow.reset();
        ui.reset();
        delegate.reset();
        player.reset();
    }
}

TEST_F(FolderBrowserTest, SelectModeCountsTheTicksAndRefusesToMoveFolders)
{
    mkdir("Sub");
    touch("one.wav");
    touch("two.wav");
    launch();
    LMFolderViewController *files = openFiles();
    files->onSelect();
    EXPECT_EQ(files->title(), "Select Mode");
    ASSERT_NE(files->rightButton(), nullptr);
    EXPECT_EQ(files->rightButton()->text(), "Cancel");
    BarButton *move = toolbarButton(files, "folderMoveButton");
    BarButton *del = toolbarButton(files, "folderDeleteButton");
    ASSERT_TRUE(move && del);
    EXPECT_FALSE(move->enabled());
    tick(files, {"one.wav", "two.wav"});
    EXPECT_EQ(move->text(), "Move(2)");
    EXPECT_EQ(del->text(), "Delete(2)");
    EXPECT_TRUE(move->enabled() && del->enabled());
    EXPECT_EQ(files->table()->row(0, 1)->accessory, CellAccessory::Checkmark);
    tick(files, {"one.wav", "two.wav"});
    EXPECT_EQ(move->text(), "Move");
    EXPECT_EQ(del->text(), "Delete");
    EXPECT_FALSE(move->enabled() || del->enabled());

    tick(files, {"Sub", "one.wav"});  // folders can be ticked, but not moved
    EXPECT_EQ(files->table()->row(0, 0)->accessory, CellAccessory::Checkmark);
    files->onMove();
    EXPECT_EQ(answerAlert(), "Can not move folders");
    EXPECT_TRUE(files->selectMode());
    EXPECT_EQ(menu()->depth(), 2);
    files->rightButton()->trigger();  // Cancel
    EXPECT_FALSE(files->selectMode());
    EXPECT_EQ(files->title(), "All");
}

TEST_F(FolderBrowserTest, DeletingAsksFirstThenRemovesAndRescans)
{
    mkdir("Old/inner");
    touch("Old/inner/x.wav");
    touch("a.wav");
    touch("b.wav");
    touch("keep.wav");
    launch();
    LMFolderViewController *files = openFiles();
    files->onSelect();
    tick(files, {"Old", "a.wav", "b.wav"});
    files->onDelete();
    EXPECT_EQ(answerAlert(0), "Delete 3 items: Are you sure?");  // Cancel
    EXPECT_TRUE(exists("a.wav"));
    const quint64 before = scanRequests();
    files->onDelete();
    answerAlert(1);
    EXPECT_FALSE(exists("Old") || exists("a.wav") || exists("b.wav"));
    EXPECT_EQ(titles(files), QStringList{"keep.wav"});
    EXPECT_FALSE(files->selectMode());
    EXPECT_EQ(scanRequests(), before + 1);
    // One row at a time, outside select mode.
    EXPECT_TRUE(files->table()->row(0, 0)->canDelete);
    files->deleteRow(0, 0);
    EXPECT_FALSE(exists("keep.wav"));
    EXPECT_TRUE(titles(files).isEmpty());
    EXPECT_EQ(scanRequests(), before + 2);
}

TEST_F(FolderBrowserTest, RenamingAFolderMovesItToTheTopAndKeepsTheMainListOnIt)
{
    mkdir("A/Old/deep");
    mkdir("Taken");
    touch("A/Old/deep/song.wav");
    UserDefaults::setString(CurrentFolder, "A/Old");
    UserDefaults::setString(CurrentFile, docsPath() + "/A/Old/deep/song.wav");
    launch();
    LMFolderViewController *old = open(open(openFiles(), "A"), "Old");
    ASSERT_NE(old, nullptr);
    old->onRename();
    Alert *prompt = ui->alerts()->current();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->title(), "Rename folder");
    EXPECT_EQ(prompt->enteredText(), "Old");
    // Clashes and empty names, then names that would leave the documents folder.
    EXPECT_EQ(answerAlert(1, "Taken"), "Rename folder");
    EXPECT_EQ(answerAlert(), "Folder already exists");
    old->renameFolder("");
    EXPECT_EQ(answerAlert(), "Folder already exists");
    for (const QString &name : hostileNames()) {
        old->renameFolder(name);
        EXPECT_EQ(answerAlert(), "Can not rename folder") << qPrintable(name);
    }
    expectNothingOutside();
    EXPECT_TRUE(exists("A/Old/deep/song.wav"));

    const quint64 before = scanRequests();
    old->renameFolder("New");
    EXPECT_TRUE(exists("New/deep/song.wav"));
    EXPECT_FALSE(exists("A/Old"));
    EXPECT_EQ(old->title(), "New");
    EXPECT_EQ(old->path(), docsPath() + "/New");
    EXPECT_EQ(scanRequests(), before + 1);
    // The choices follow in the form they were stored in.
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFolder), "New");
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFile), docsPath() + "/New/deep/song.wav");
    UserDefaults::setString(CurrentFolder, docsPath() + "/New/deep");
    old->renameFolder("Newer");
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFolder), docsPath() + "/Newer/deep");
}

TEST_F(FolderBrowserTest, PlayShowsTheFolderInTheMainList)
{
    mkdir("Music");
    writeWav("Music/a.wav", 1);
    writeWav("b.wav", 1);
    for (bool tablet : {false, true}) {
        launch(tablet);
        ASSERT_TRUE(scan());
        LMFolderViewController *music = open(openFiles(), "Music");
        music->onPlay();
        EXPECT_EQ(UserDefaults::integerForKey(Organize), OrganizeFolder);
        EXPECT_EQ(UserDefaults::stringForKey(CurrentFolder), docsPath() + "/Music");
        EXPECT_EQ(root()->title(), "Music");
        EXPECT_EQ(root()->table()->rowsInSection(0), 1);
        // A phone returns to the list; a tablet's popover stays beside it.
        EXPECT_EQ(ui->presenter()->isPresented(menu()), tablet);
        mainWindow.reset();
        ui.reset();
        delegate.reset();
        player.reset();
    }
    UserDefaults::setString(CurrentFolder, "x");
    launch();
    openFiles()->onPlay();
    EXPECT_EQ(UserDefaults::stringForKey(CurrentFolder), "");
    EXPECT_EQ(root()->title(), "All");
}

TEST_F(FolderBrowserTest, TheMoveScreenOffersTopFoldersButTheSource)
{
    mkdir("A");
    touch("A/x.wav");
    touch("top.wav");
    launch();
    LMFolderViewController *a = open(openFiles(), "A");
    a->onSelect();
    tick(a, {"x.wav"});
    a->onMove();
    auto *moving = qobject_cast<LMMovingViewController *>(menu()->top());
    ASSERT_NE(moving, nullptr);
    EXPECT_EQ(moving->title(), "Moving Files");
    ASSERT_EQ(moving->table()->sectionCount(), 2);
    EXPECT_EQ(moving->table()->sections().at(0).header, "Move to new folder");
    EXPECT_EQ(titles(moving, 0), QStringList{"Name it.."});
    EXPECT_EQ(moving->table()->sections().at(1).header, "Move to existing folder");
    EXPECT_EQ(titles(moving, 1), QStringList{"*Root Folder*"});  // A itself is not offered

    // Files of the documents folder with no folder around: only a new folder.
    QDir(docsPath() + "/A").removeRecursively();
    LMMovingViewController top(ui.get(), {docsPath() + "/top.wav"});
    top.loadIfNeeded();
    EXPECT_EQ(top.table()->sectionCount(), 1);
}

TEST_F(FolderBrowserTest, AMoveChecksEveryNameFirstAndMovesNothingOnAClash)
{
    mkdir("Src");
    mkdir("Dest");
    for (const char *f : {"Src/1.wav", "Src/2.wav", "Src/3.wav", "Dest/2.wav"})
        touch(f);
    launch();
    NavigationController *nav = new NavigationController(ui.get(), new ScreenController(ui.get()), ui.get());
    auto *moving = new LMMovingViewController(ui.get(), {docsPath() + "/Src/1.wav", docsPath() + "/Src/2.wav",
                                                         docsPath() + "/Src/3.wav"});
    nav->push(moving, false);
    EXPECT_EQ(titles(moving, 1), (QStringList{"*Root Folder*", "Dest"}));
    moving->tapRow(1, 1);  // Dest
    EXPECT_EQ(answerAlert(), "File already exists in target folder: 2.wav");
    EXPECT_TRUE(exists("Src/1.wav") && exists("Src/2.wav") && exists("Src/3.wav"));
    EXPECT_EQ(nav->top(), moving);

    // A new folder: created, everything moves, the screen goes.
    moving->tapRow(0, 0);
    const quint64 before = scanRequests();
    EXPECT_EQ(answerAlert(1, "Fresh"), "Create folder");
    EXPECT_TRUE(exists("Fresh/1.wav") && exists("Fresh/2.wav") && exists("Fresh/3.wav"));
    EXPECT_EQ(scanRequests(), before + 1);
    EXPECT_EQ(nav->depth(), 1);
}

TEST_F(FolderBrowserTest, NewFolderNamesAreCheckedAndAPartMoveSaysWhatStayed)
{
    mkdir("Src");
    touch("Src/1.wav");
    touch("Src/2.wav");
    touch("Taken");
    launch();
    NavigationController *nav = new NavigationController(ui.get(), new ScreenController(ui.get()), ui.get());
    auto *moving = new LMMovingViewController(ui.get(), {docsPath() + "/Src/1.wav", docsPath() + "/Src/2.wav"});
    nav->push(moving, false);
    moving->moveToNewFolder("");  // nothing at all
    EXPECT_EQ(ui->alerts()->count(), 0);
    moving->moveToNewFolder("Taken");
    EXPECT_EQ(answerAlert(), "Folder already exists");
    for (const QString &name : hostileNames()) {
        moving->moveToNewFolder(name);
        EXPECT_EQ(answerAlert(), "Can not create folder") << qPrintable(name);
    }
    expectNothingOutside();
    EXPECT_TRUE(exists("Src/1.wav") && exists("Src/2.wav"));

    // One file vanished after it was ticked: the other moves, the screen stays and says so.
    QFile::remove(docsPath() + "/Src/2.wav");
    EXPECT_FALSE(moving->moveToFolder(docsPath()));
    EXPECT_EQ(answerAlert(), "Can not move files: 2.wav");
    EXPECT_TRUE(exists("1.wav"));
    EXPECT_EQ(nav->top(), moving);
    EXPECT_EQ(moving->movingItems(), QStringList{docsPath() + "/Src/2.wav"});
}

} // namespace
