// The shared screen kit without views: navigation stack, presenter, list model, alerts,
// tinted icons, image preview geometry, theme helper and the name check.
#include <QAbstractItemModelTester>
#include <QDir>
#include <QPainter>
#include <QSignalSpy>

#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/image_preview.h"
#include "ui/name_check.h"
#include "ui/navigation_controller.h"
#include "ui/presenter.h"
#include "ui/theme_helper.h"
#include "ui/tinted_image.h"
#include "ui/ui_support.h"

namespace {

// Records its life-cycle calls.
class Probe : public ScreenController {
public:
    Probe(UiContext *c, QString name, QStringList *log) : ScreenController(c), name_(std::move(name)), log_(log) {}
    void viewDidLoad() override { *log_ << name_ + ":load"; }
    void viewWillAppear() override
    {
        ScreenController::viewWillAppear();
        *log_ << name_ + ":willAppear";
    }
    void viewWillDisappear() override
    {
        ScreenController::viewWillDisappear();
        *log_ << name_ + ":willDisappear";
    }

private:
    QString name_;
    QStringList *log_;
};

class KitTest : public uitest::UiFixture {};

TEST_F(KitTest, NavigationStackCallsTheLifeCycleAndReleasesPoppedScreens)
{
    launch();
    QStringList log;
    auto *nav = new NavigationController(ui.get(), new Probe(ui.get(), "a", &log), ui.get());
    nav->setShown(true);
    QPointer<ScreenController> b = new Probe(ui.get(), "b", &log);
    nav->push(b, false);
    nav->push(new Probe(ui.get(), "c", &log), false);
    EXPECT_EQ(nav->depth(), 3);
    nav->popToRoot(false);
    EXPECT_EQ(log, (QStringList{"a:load", "a:willAppear", "b:load", "a:willDisappear", "b:willAppear", "c:load",
                                "b:willDisappear", "c:willAppear", "c:willDisappear", "a:willAppear"}));
    EXPECT_EQ(nav->depth(), 1);
    nav->pop(false);  // the root stays
    EXPECT_EQ(nav->depth(), 1);
    EXPECT_FALSE(b.isNull());
    lmtest::spin(NavigationController::kReleaseDelayMs + 200);
    EXPECT_TRUE(b.isNull());
}

TEST_F(KitTest, PresentationsArePopoversOnATabletAndCoverTheWindowOnAPhone)
{
    for (bool tablet : {false, true}) {
        launch(tablet);
        QStringList log;
        auto *below = new NavigationController(ui.get(), new Probe(ui.get(), "root", &log), ui.get());
        ui->setRootNavigation(below);
        auto *menu = new NavigationController(ui.get(), new Probe(ui.get(), "menu", &log), ui.get());
        bool dismissed = false;
        Presentation *p = ui->presenter()->presentAdaptive(menu, "organizeButton", [&] { dismissed = true; }, true);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->style(), tablet ? Presenter::Popover : Presenter::ModalFlip);
        EXPECT_EQ(menu->top()->inPopover(), tablet);
        if (tablet) {
            EXPECT_EQ(p->size(), QSizeF(360, 640));
        }
        // Only a covering presentation hides the stack below.
        EXPECT_EQ(log.contains("root:willDisappear"), !tablet);
        EXPECT_EQ(ui->presenter()->presentAdaptive(menu, "organizeButton"), p);  // never twice
        p->dismiss();
        EXPECT_TRUE(dismissed);
        EXPECT_FALSE(ui->presenter()->isPresented(menu));
        EXPECT_EQ(log.last(), tablet ? "menu:willDisappear" : "root:willAppear");
        mainWindow.reset();
        ui.reset();
        delegate.reset();
        player.reset();
    }
}

TEST_F(KitTest, OwnedStacksGoWithTheirPresentation)
{
    launch(true);
    QStringList log;
    QPointer<NavigationController> sheet = new NavigationController(ui.get(), new Probe(ui.get(), "s", &log));
    EXPECT_EQ(ui->presenter()->presentSheet(sheet, {}, true)->style(), Presenter::FormSheet);
    ui->presenter()->dismissAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull());
}

TEST_F(KitTest, TableModelFlattensSectionsAndUpdatesInPlace)
{
    lmtest::ensureApp();
    TableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    TableRow a, b, c;
    a.title = "A";
    b.title = "B";
    c.title = "C";
    model.setSections({{"Head", "", {a, b}}, {"", "Foot", {c}}});
    // header, A, B, C, footer
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.data(model.index(0), TableModel::KindRole).toInt(), TableModel::Header);
    EXPECT_EQ(model.data(model.index(4), TableModel::TitleRole).toString(), "Foot");
    EXPECT_EQ(model.indexOf(1, 0), 3);
    EXPECT_EQ(model.indexOf(1, 1), -1);
    int s = -1, r = -1;
    EXPECT_TRUE(model.cellAt(2, &s, &r));
    EXPECT_EQ(s * 10 + r, 1);
    EXPECT_FALSE(model.cellAt(0, &s, &r));
    EXPECT_TRUE(model.data(model.index(1), TableModel::TitleColorRole).isNull());  // the view's colour

    // Same shape: rows change in place (the view keeps its scroll position).
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    b.title = "B2";
    model.setSections({{"Head", "", {a, b}}, {"", "Foot", {c}}});
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(model.data(model.index(2), TableModel::TitleRole).toString(), "B2");
    model.setRows({a});
    EXPECT_EQ(resets.count(), 1);
    model.setGrouped(true);  // a grouped list gives every section a header entry
    EXPECT_EQ(model.rowCount(), 2);

    QSignalSpy centre(&model, &TableModel::centerRequested);
    model.selectAndCenter(0, 0, true);
    ASSERT_EQ(centre.count(), 1);
    EXPECT_EQ(centre.at(0).at(0).toInt(), 1);
    EXPECT_TRUE(model.data(model.index(1), TableModel::SelectedRole).toBool());
}

TEST_F(KitTest, AlertsAnswerOnceWithTheirButtonAndText)
{
    launch();
    AlertCenter *center = ui->alerts();
    int confirmed = -1;
    QString entered;
    int prompted = -1;
    AlertMessage::show("No music", "text");
    Alert *confirm = AlertConfirm::show("Are you sure?", "", [&](int b) { confirmed = b; });
    Alert *prompt = AlertPrompt::show("Add", "", "Cancel", "Create", [&](int b, const QString &t) {
        prompted = b;
        entered = t;
    });
    ASSERT_EQ(center->count(), 3);
    EXPECT_EQ(center->current()->buttons(), QStringList{"OK"});
    center->current()->answer(0);
    ASSERT_EQ(center->current(), confirm);
    EXPECT_EQ(confirm->buttons(), (QStringList{"Cancel", "OK"}));
    confirm->answer(1);
    confirm->answer(0);  // a second answer is ignored
    EXPECT_EQ(confirmed, 1);
    ASSERT_EQ(center->current(), prompt);
    EXPECT_EQ(prompt->message(), "\n");
    EXPECT_EQ(AlertPrompt::messageFor("  "), "  ");
    prompt->setEnteredText("My Playlist");
    prompt->answer(0);
    EXPECT_EQ(prompted, 0);
    EXPECT_EQ(entered, "My Playlist");
    EXPECT_EQ(center->count(), 0);
}

TEST_F(KitTest, TintKeepsTheSilhouetteUpright)
{
    lmtest::ensureApp();
    QImage src(8, 8, QImage::Format_ARGB32_Premultiplied);
    src.fill(Qt::transparent);
    QPainter(&src).fillRect(0, 0, 8, 2, QColor(10, 20, 30, 128));  // the top rows, half opaque
    const QImage out = TintedImage::tint(src, QColor(255, 0, 0));
    EXPECT_NEAR(qAlpha(out.pixel(3, 0)), 128, 1);
    EXPECT_EQ(out.pixelColor(3, 1).red(), 255);
    EXPECT_EQ(qAlpha(out.pixel(3, 7)), 0);  // not flipped

    const QImage icon = TintedImage::imageNamed("playlist.png", Qt::white, QSize(44, 44));
    ASSERT_FALSE(icon.isNull());
    int opaque = 0;
    for (int y = 0; y < icon.height(); y++)
        for (int x = 0; x < icon.width(); x++) {
            const QRgb p = icon.pixel(x, y);
            if (qAlpha(p) == 255) {
                opaque++;
                EXPECT_EQ(p, qRgba(255, 255, 255, 255));
            }
        }
    EXPECT_GT(opaque, 20);
    EXPECT_TRUE(TintedImage::imageNamed("no-such-icon", Qt::white).isNull());
    EXPECT_TRUE(TintedImage::iconPath("../theme/iPhone/Plain.thm").isEmpty());
}

TEST_F(KitTest, ImagePreviewFitsWithItsShadowMargins)
{
    EXPECT_EQ(ImagePreview::fitRect(QSizeF(300, 300), QSizeF(100, 50), 0, 0, 4, 4), QRectF(0, 74, 296, 148));
    EXPECT_EQ(ImagePreview::fitRect(QSizeF(300, 300), QSizeF(50, 100), 0, 0, 4, 4), QRectF(74, 0, 148, 296));
    EXPECT_TRUE(ImagePreview::fitRect(QSizeF(300, 300), QSizeF(0, 0), 0, 0, 4, 4).isNull());
    EXPECT_TRUE(ImagePreview::fitRect(QSizeF(2, 2), QSizeF(10, 10), 0, 0, 4, 4).isNull());
}

TEST_F(KitTest, ThemeHelperReloadsOnAChangeAndKeepsDefaultsForBadValues)
{
    launch();
    lmtest::TempDir themes;
    QDir().mkpath(QString::fromStdString(themes.path() + "/theme/iPhone"));
    lmtest::writeFile(themes.path() + "/theme/iPhone/Odd.thm",
                      "'((list-title-color . 5) (list-subtitle-color 255 0 0) (list-inset-portrait 10 0 20))");
    Theme::setBundlePath(QString::fromStdString(themes.path()));
    UserDefaults::setString(SettingsKeys::CurrentTheme, "Odd.thm");
    ThemeHelper helper;
    QSignalSpy changed(&helper, &ThemeHelper::changed);
    EXPECT_TRUE(helper.apply());
    EXPECT_FALSE(helper.apply());  // same name: nothing to do
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(helper.titleColor(), ThemeHelper::Defaults().title);  // not a colour list
    EXPECT_EQ(helper.subtitleColor(), QColor(255, 0, 0));
    EXPECT_EQ(helper.insetTop(), 10);
    EXPECT_EQ(helper.insetBottom(), 20);
    UserDefaults::setString(SettingsKeys::CurrentTheme, "Missing.thm");
    EXPECT_TRUE(helper.apply());
    EXPECT_EQ(helper.subtitleColor(), ThemeHelper::Defaults().subtitle);
    EXPECT_TRUE(helper.backgroundImage().isEmpty());
}

TEST(NameCheck, RefusesNamesThatLeaveOrNameTheFolder)
{
    for (const char *bad : {"", ".", "..", "a/b", "/", "../x"})
        EXPECT_FALSE(NameCheck::isValidName(QString::fromUtf8(bad))) << bad;
    EXPECT_FALSE(NameCheck::isValidName(QString("a") + QChar(0) + "b"));
    for (const char *good : {"My Playlist", "...", ".hidden", "a..b", "Ünïcode"})
        EXPECT_TRUE(NameCheck::isValidName(QString::fromUtf8(good))) << good;
    EXPECT_EQ(NameCheck::childPath("/docs", "x.m3u"), "/docs/x.m3u");
    EXPECT_TRUE(NameCheck::childPath("/docs", "..").isNull());
    EXPECT_EQ(NameCheck::sanitized("AC/DC", "cover"), "AC_DC");
    EXPECT_EQ(NameCheck::sanitized("..", "cover"), "cover");
    EXPECT_TRUE(NameCheck::sanitized("..", "..").isNull());
}

} // namespace
