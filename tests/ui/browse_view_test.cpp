// The browsing screens through their views, by taps on named items as a finger would:
// on a phone in the modal organize stack, on a tablet in its 360 x 640 popover.
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "ui/browse_fixture.h"
#include "ui/lm_folder_view_controller.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"

using namespace SettingsKeys;

namespace {

class BrowseViewTest : public uitest::BrowseFixture {};

TEST_F(BrowseViewTest, APhoneBrowsesSelectsDeletesRenamesAndPlaysByTouch)
{
    mkdir("Tapes");
    writeWav("Tapes/t.wav", 1);
    writeWav("a.wav", 1);
    writeWav("b.wav", 1);
    launch(false, true);
    ASSERT_TRUE(scan());
    settle(100);
    ASSERT_TRUE(tap("organizeButton"));
    ASSERT_TRUE(tapPresented("cell_0_0"));  // Files
    auto *files = qobject_cast<LMFolderViewController *>(root()->organizeNavigation()->top());
    ASSERT_NE(files, nullptr);
    settle(100);
    ASSERT_TRUE(tapPresented("folderSelectButton"));
    ASSERT_TRUE(tapPresented("cell_0_1"));
    ASSERT_TRUE(tapPresented("cell_0_2"));
    EXPECT_EQ(files->selectedItems(), (QStringList{doc("a.wav"), doc("b.wav")}));
    ASSERT_TRUE(tapPresented("folderDeleteButton"));
    settle(100);
    ASSERT_TRUE(tap("alertButton1"));
    EXPECT_FALSE(exists("a.wav") || exists("b.wav"));
    EXPECT_FALSE(files->selectMode());

    ASSERT_TRUE(tapPresented("cell_0_0"));  // Tapes
    settle(200);
    ASSERT_TRUE(tapPresented("folderTitleButton"));
    settle(100);
    ASSERT_NE(ui->alerts()->current(), nullptr);
    ui->alerts()->current()->setEnteredText("Cassettes");
    ASSERT_TRUE(tap("alertButton1"));
    EXPECT_TRUE(exists("Cassettes/t.wav"));
    ASSERT_TRUE(scan());
    ASSERT_TRUE(tapPresented("folderPlayButton"));
    settle(100);
    EXPECT_EQ(ui->presenter()->count(), 0);
    EXPECT_EQ(root()->title(), "Cassettes");
    EXPECT_EQ(root()->table()->rowsInSection(0), 1);
}

TEST_F(BrowseViewTest, ATabletBuildsAPlayListInThePopoverAndFillsItFromTheChooser)
{
    writeWav("a.wav", 1);
    writeWav("b.wav", 1);
    launch(true, true);
    ASSERT_TRUE(scan());
    settle(100);
    ASSERT_TRUE(tap("organizeButton"));
    settle(100);
    QQuickItem *frame = presentedFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(QSizeF(frame->width(), frame->height()), QSizeF(360, 640));
    ASSERT_TRUE(tapPresented("cell_0_3"));  // Playlists
    settle(200);
    ASSERT_TRUE(tapPresented("playlistsAddButton"));
    settle(100);
    ASSERT_TRUE(tap("alertButton1"));  // "My Playlist"
    EXPECT_TRUE(exists("My Playlist.m3u"));
    ASSERT_TRUE(tapPresented("cell_0_0"));
    // The popover stays beside the list, which now shows the new play list.
    EXPECT_TRUE(ui->presenter()->isPresented(root()->organizeNavigation()));
    EXPECT_EQ(root()->title(), "My Playlist");
    ASSERT_TRUE(tap("playList"));  // a tap outside closes the popover
    EXPECT_EQ(ui->presenter()->count(), 0);

    ASSERT_TRUE(tap("addButton"));
    settle(200);
    ASSERT_TRUE(tapPresented("chooserSelectAllButton"));
    ASSERT_TRUE(tapPresented("chooserAddButton"));
    EXPECT_EQ(root()->table()->rowsInSection(0), 2);
    ASSERT_TRUE(tapPresented("chooserDoneButton"));
    EXPECT_EQ(ui->presenter()->count(), 0);
}

} // namespace
