// The settings screen and its choosers, through their controllers over the real
// application delegate, then by taps on the window.
#include <sys/xattr.h>

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QUrlQuery>

#include "library/character_encoding.h"
#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "net/ftp_server.h"
#include "platform/core/file_system_object.h"
#include "platform/core/idle_timer.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/back_step_view_controller.h"
#include "ui/encoding_chooser.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/settings_view_controller.h"
#include "ui/sleep_timer_view_controller.h"
#include "ui/theme_chooser.h"
#include "ui/ui_support.h"

using namespace SettingsKeys;

namespace {

class SettingsViewTest : public uitest::UiFixture {
protected:
    // The settings screen on the organize menu, as the menu pushes it.
    SettingsViewController *openSettings()
    {
        root()->showOrganize();
        NavigationController *menu = root()->organizeNavigation();
        menu->top()->tapRow(0, 4);
        return qobject_cast<SettingsViewController *>(menu->top());
    }
    NavigationController *menu() const { return root()->organizeNavigation(); }
    // The chooser behind row `row` of the settings' first section, pushed by a tap.
    template <class Screen>
    Screen *openChooser(int row)
    {
        settings = openSettings();
        if (settings == nullptr)
            return nullptr;
        settings->tapRow(0, row);
        return qobject_cast<Screen *>(menu()->top());
    }
    SettingsViewController *settings = nullptr;
    static const TableRow &cell(ScreenController *s, int section, int row) { return *s->table()->row(section, row); }
    static int checkedRow(ScreenController *s)
    {
        int found = -1;
        for (int i = 0; i < s->table()->rowsInSection(0); i++)
            if (s->table()->row(0, i)->accessory == CellAccessory::Checkmark) {
                if (found >= 0)
                    return -2;  // more than one
                found = i;
            }
        return found;
    }
    // Lists the served folder with Python's ftplib ("" when it cannot); the server answers
    // on our event loop.
    QString listWithFtplib(int port)
    {
        QProcess python;
        python.start("python3", {"-c", "import ftplib,sys\n"
                                       "f=ftplib.FTP()\n"
                                       "f.connect('127.0.0.1', int(sys.argv[1]), timeout=10)\n"
                                       "f.login('anyone','x')\n"
                                       "f.retrlines('LIST')\n"
                                       "f.quit()\n",
                                 QString::number(port)});
        if (!lmtest::waitUntil([&] { return python.state() == QProcess::NotRunning; }, 20000))
            python.kill();
        return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
    }
};

TEST_F(SettingsViewTest, RowsShowTheStoredSettings)
{
    UserSettings::ensureCurrentTheme();
    launch();
    SettingsViewController *s = openSettings();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->title(), "Settings");
    EXPECT_TRUE(s->table()->grouped());
    ASSERT_EQ(s->table()->sectionCount(), 3);
    EXPECT_EQ(s->table()->rowsInSection(0), 7);
    EXPECT_EQ(s->table()->rowsInSection(1), 2);
    EXPECT_EQ(s->table()->rowsInSection(2), 1);
    EXPECT_EQ(s->table()->sections()[2].header, "Support");
    EXPECT_FALSE(s->table()->sections()[2].footer.isEmpty());
    EXPECT_EQ(cell(s, 0, 0).detail, "Plain");
    EXPECT_EQ(cell(s, 0, 1).detail, "Western");
    EXPECT_EQ(cell(s, 0, 3).detail, "30 sec");  // never set
    EXPECT_EQ(cell(s, 0, 4).title, "Include in backups");
    EXPECT_EQ(cell(s, 0, 4).accessory, CellAccessory::Switch);
    EXPECT_EQ(cell(s, 1, 0).title, "Start FTP Server");
    EXPECT_EQ(cell(s, 1, 1).detail, "No");
    UserDefaults::setInteger(BackStep, -5);
    UserDefaults::setInteger(PreferedEnc, CharacterEncoding::Russian);
    s->viewWillAppear();
    EXPECT_EQ(cell(s, 0, 3).detail, "30 sec");
    EXPECT_EQ(cell(s, 0, 1).detail, "Russian");
    UserDefaults::setInteger(BackStep, 90);
    s->viewWillAppear();
    EXPECT_EQ(cell(s, 0, 3).detail, "90 sec");
    // Phone: the way back to the list.
    ASSERT_NE(s->rightButton(), nullptr);
    EXPECT_EQ(s->rightButton()->accessibleName(), "Back to playing list");
    s->rightButton()->trigger();
    EXPECT_FALSE(ui->presenter()->isPresented(menu()));
}

TEST_F(SettingsViewTest, SwitchesStoreTheirSettings)
{
    launch();
    SettingsViewController *s = openSettings();
    ASSERT_NE(s, nullptr);
    s->setRowSwitch(0, SettingsViewController::LockRow, true);
    EXPECT_EQ(UserDefaults::integerForKey(DisableAutoLock), 1);
    EXPECT_TRUE(cell(s, 0, 6).switchOn);
    EXPECT_EQ(cell(s, 0, 6).titleColor, QColor(Qt::red));
    s->setRowSwitch(0, SettingsViewController::LockRow, false);
    EXPECT_EQ(UserDefaults::integerForKey(DisableAutoLock), 0);
    EXPECT_EQ(cell(s, 0, 6).titleColor, QColor(Qt::black));

    s->setRowSwitch(0, SettingsViewController::AutoEnterRow, true);
    EXPECT_EQ(UserDefaults::integerForKey(AutoEnterNowPlaying), 1);
    EXPECT_TRUE(cell(s, 0, 5).switchOn);

    s->tapRow(1, SettingsViewController::AutoStartRow);
    EXPECT_EQ(UserDefaults::integerForKey(FTPAutoStart), 1);
    EXPECT_EQ(cell(s, 1, 1).detail, "Yes");
    s->tapRow(1, SettingsViewController::AutoStartRow);
    EXPECT_EQ(UserDefaults::integerForKey(FTPAutoStart), 0);

    const QString documents = FileSystemObject::sharedObject()->documentsDirectory();
    if (setxattr(QFile::encodeName(documents).constData(), "user.probe", "1", 1, 0) != 0)
        GTEST_SKIP() << "this file system refuses user attributes";
    EXPECT_TRUE(cell(s, 0, 4).switchOn);
    s->setRowSwitch(0, SettingsViewController::BackupRow, false);
    EXPECT_TRUE(FileSystemObject::sharedObject()->hasSkipBackupAttribute(documents));
    EXPECT_FALSE(cell(s, 0, 4).switchOn);
    s->setRowSwitch(0, SettingsViewController::BackupRow, true);
    EXPECT_FALSE(FileSystemObject::sharedObject()->hasSkipBackupAttribute(documents));
}

TEST_F(SettingsViewTest, TheServerRowStartsAServerClientsCanListAndStopsIt)
{
    writeWav("song.wav", 1);
    launch();
    delegate->setFtpPort(0);  // the system's choice
    SettingsViewController *s = openSettings();
    ASSERT_NE(s, nullptr);
    s->tapRow(1, SettingsViewController::ServerRow);
    ASSERT_NE(delegate->ftpd(), nullptr);
    const int port = delegate->ftpd()->listeningPort();
    EXPECT_EQ(cell(s, 1, 0).title, "Started");
    EXPECT_TRUE(cell(s, 1, 0).detail.startsWith("ftp://"));
    EXPECT_TRUE(cell(s, 1, 0).detail.endsWith(QStringLiteral(":%1").arg(port)));
    EXPECT_TRUE(IdleTimer::isIdleTimerDisabled());  // serving keeps the screen on
    EXPECT_TRUE(listWithFtplib(port).endsWith(" song.wav"));
    s->tapRow(1, SettingsViewController::ServerRow);
    EXPECT_EQ(delegate->ftpd(), nullptr);
    EXPECT_EQ(cell(s, 1, 0).title, "Start FTP Server");
    EXPECT_EQ(cell(s, 1, 0).detail, "");
    EXPECT_EQ(listWithFtplib(port), "");
}

TEST_F(SettingsViewTest, ATakenPortGivesTheAlert)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    launch();
    delegate->setFtpPort(taken.serverPort());
    SettingsViewController *s = openSettings();
    ASSERT_NE(s, nullptr);
    s->tapRow(1, SettingsViewController::ServerRow);
    EXPECT_EQ(delegate->ftpd(), nullptr);
    ASSERT_NE(ui->alerts()->current(), nullptr);
    EXPECT_EQ(ui->alerts()->current()->title(), "Can not start FTP server");
    EXPECT_EQ(cell(s, 1, 0).title, "Start FTP Server");
}

TEST_F(SettingsViewTest, FeedbackOpensAMailWithTheSubject)
{
    launch();
    QUrl opened;
    ui->setUrlOpener([&](const QUrl &u) {
        opened = u;
        return true;
    });
    SettingsViewController *s = openSettings();
    ASSERT_NE(s, nullptr);
    s->tapRow(2, 0);
    EXPECT_EQ(opened.scheme(), "mailto");
    EXPECT_EQ(opened.path(), SettingsViewController::kSupportAddress);
    EXPECT_EQ(QUrlQuery(opened).queryItemValue("subject", QUrl::FullyDecoded), "Feedback on Lumenar");
}

TEST_F(SettingsViewTest, TheSleepTimerCountsDownAndNoRemovesIt)
{
    launch();
    auto *timer = openChooser<SleepTimerViewController>(SettingsViewController::SleepTimerRow);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->title(), "Sleep Timer");
    EXPECT_EQ(timer->table()->rowsInSection(0), 6);
    EXPECT_EQ(cell(timer, 0, 0).title, "NO");
    EXPECT_EQ(cell(timer, 0, 5).title, "90 Minutes");
    EXPECT_EQ(checkedRow(timer), -1);
    timer->tapRow(0, 5);
    EXPECT_NE(delegate->sleepTime(), 0);
    EXPECT_TRUE(timer->title() == "Sleep Timer(90:00)" || timer->title() == "Sleep Timer(89:59)") << timer->title().toStdString();
    EXPECT_TRUE(timer->titleUpdatePending());
    const QString first = timer->title();
    ASSERT_TRUE(lmtest::waitUntil([&] { return timer->title() != first; }, 3000));
    EXPECT_TRUE(timer->title().startsWith("Sleep Timer(89:5")) << timer->title().toStdString();
    EXPECT_TRUE(timer->titleUpdatePending());
    timer->tapRow(0, 0);
    EXPECT_EQ(delegate->sleepTime(), 0);
    EXPECT_EQ(timer->title(), "Sleep Timer");
    EXPECT_FALSE(timer->titleUpdatePending());
    // Leaving the screen stops the count.
    timer->tapRow(0, 1);
    EXPECT_TRUE(timer->titleUpdatePending());
    menu()->pop(false);
    EXPECT_FALSE(timer->titleUpdatePending());
    delegate->removeSleepTimer();
}

TEST_F(SettingsViewTest, TheBackStepChooserChecksTheStepInUse)
{
    launch();
    auto *step = openChooser<BackStepViewController>(SettingsViewController::BackStepRow);
    ASSERT_NE(step, nullptr);
    SettingsViewController *s = settings;
    EXPECT_EQ(step->title(), "Backward Step");
    EXPECT_EQ(step->table()->rowsInSection(0), 8);
    EXPECT_EQ(cell(step, 0, 7).title, "180 Seconds");
    EXPECT_EQ(checkedRow(step), 3);  // unset: 30
    UserDefaults::setInteger(BackStep, -5);
    step->reload();
    EXPECT_EQ(checkedRow(step), 3);
    UserDefaults::setInteger(BackStep, 7);
    step->reload();
    EXPECT_EQ(checkedRow(step), -1);
    step->tapRow(0, 0);
    EXPECT_EQ(UserDefaults::integerForKey(BackStep), 5);
    EXPECT_EQ(checkedRow(step), 0);
    menu()->pop(false);
    EXPECT_EQ(cell(s, 0, 3).detail, "5 sec");
}

TEST_F(SettingsViewTest, ChoosingAnEncodingStoresItAndRescans)
{
    writeWav("a.wav", 1);
    launch();
    ASSERT_TRUE(scan());
    auto *chooser = openChooser<EncodingChooser>(SettingsViewController::EncodingRow);
    ASSERT_NE(chooser, nullptr);
    const QStringList names = CharacterEncoding::getAvailableEncodings();
    ASSERT_EQ(chooser->table()->rowsInSection(0), names.size());
    EXPECT_EQ(checkedRow(chooser), names.indexOf("Western"));
    const int russian = int(names.indexOf("Russian"));
    ASSERT_GE(russian, 0);
    const int before = scans;
    chooser->tapRow(0, russian);
    EXPECT_EQ(UserDefaults::integerForKey(PreferedEnc), 1282);
    EXPECT_EQ(checkedRow(chooser), russian);
    EXPECT_TRUE(lmtest::waitUntil([&] { return scans > before; }, 10000));
}

TEST_F(SettingsViewTest, TheThemeChooserMovesItsCheckAndRecoloursTheMainList)
{
    UserSettings::ensureCurrentTheme();
    launch();
    auto *chooser = openChooser<ThemeChooser>(SettingsViewController::ThemeRow);
    ASSERT_NE(chooser, nullptr);
    SettingsViewController *s = settings;
    EXPECT_EQ(chooser->title(), "Choose Theme");
    QStringList titles;
    for (const TableRow &r : chooser->table()->sections()[0].rows)
        titles << r.title;
    EXPECT_EQ(titles, (QStringList{"Dusk", "Night", "Paper", "Plain", "Tide"}));
    EXPECT_EQ(checkedRow(chooser), 3);
    const QColor plainBackground = root()->listBackgroundColor();
    chooser->tapRow(0, 1);
    EXPECT_EQ(UserDefaults::stringForKey(CurrentTheme), "Night.thm");
    EXPECT_EQ(checkedRow(chooser), 1);
    EXPECT_EQ(root()->theme()->name(), "Night.thm");
    EXPECT_NE(root()->listBackgroundColor(), plainBackground);
    // The phone's chooser wears the theme it shows.
    EXPECT_EQ(chooser->titleColor(), root()->titleColor());
    EXPECT_EQ(cell(chooser, 0, 0).titleColor, root()->titleColor());
    menu()->pop(false);
    EXPECT_EQ(cell(s, 0, 0).detail, "Night");
}

TEST_F(SettingsViewTest, ATabletChooserKeepsThePlainLook)
{
    launch(true);
    UserDefaults::setString(CurrentTheme, "Night.thm");
    ThemeChooser chooser(ui.get());
    chooser.loadIfNeeded();
    chooser.viewWillAppear();
    EXPECT_EQ(chooser.currentTheme(), nullptr);
    EXPECT_EQ(chooser.listBackgroundColor(), QColor(Qt::white));
    EXPECT_EQ(checkedRow(&chooser), 1);
}

// The window, by taps: the menu's Settings row, a switch, a chooser.
TEST_F(SettingsViewTest, TheWindowOpensSettingsAndItsChoosersByTaps)
{
    launch(false, true);
    ASSERT_TRUE(tap("organizeButton"));
    settle(100);
    ASSERT_TRUE(tap("cell_0_4"));  // Settings
    settle(100);
    auto *s = qobject_cast<SettingsViewController *>(menu()->top());
    ASSERT_NE(s, nullptr);
    QQuickItem *lockCell = item("cell_0_6");
    ASSERT_NE(lockCell, nullptr);
    QQuickItem *toggle = nullptr;
    for (QQuickItem *i : lockCell->findChildren<QQuickItem *>())
        if (i->objectName() == "switch" && i->isVisible())
            toggle = i;
    ASSERT_NE(toggle, nullptr);
    ASSERT_TRUE(tap(toggle));
    EXPECT_EQ(UserDefaults::integerForKey(DisableAutoLock), 1);
    EXPECT_EQ(cell(s, 0, 6).titleColor, QColor(Qt::red));
    ASSERT_TRUE(tap("cell_0_3"));  // Backward Step
    settle(100);
    ASSERT_NE(qobject_cast<BackStepViewController *>(menu()->top()), nullptr);
    ASSERT_TRUE(tap("cell_0_6"));  // 90 Seconds
    EXPECT_EQ(UserDefaults::integerForKey(BackStep), 90);
    ASSERT_TRUE(tap("backButton"));
    settle(100);
    EXPECT_EQ(menu()->top(), s);
    EXPECT_EQ(cell(s, 0, 3).detail, "90 sec");
    ASSERT_TRUE(tap("backToListButton"));
    settle(100);
    EXPECT_FALSE(ui->presenter()->isPresented(menu()));
}

} // namespace
