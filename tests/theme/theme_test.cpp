// Theme records: typed queries, colours, insets, images, theme folders and the shipped
// theme files.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSettings>

#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"
#include "theme/theme.h"
#include "theme/tl_alist.h"
#include "theme/tl_test_util.h"

namespace {

class ThemeRecord : public ::testing::Test {
protected:
    lmtest::TempDir dir;

    std::shared_ptr<Theme> make(const std::string &text, const char *name = "T.thm")
    {
        lmtest::writeFile(dir.file(name), text);
        std::shared_ptr<Theme> theme;
        tltest::capture([&] { theme = Theme::fromFile(QString::fromStdString(dir.path()), name); });
        return theme;
    }
};

void expectColor(const QColor &c, double r, double g, double b, double a)
{
    ASSERT_TRUE(c.isValid());
    EXPECT_NEAR(c.redF(), r, 1e-4);
    EXPECT_NEAR(c.greenF(), g, 1e-4);
    EXPECT_NEAR(c.blueF(), b, 1e-4);
    EXPECT_NEAR(c.alphaF(), a, 1e-4);
}

TEST_F(ThemeRecord, ColoursScaleTruncateAndDefaultToOpaque)
{
    auto theme = make("'((list-title-color 255 0 0) (list-subtitle-color 255 0 0 128)"
                      " (list-separator-color 127.9 0 0) (background-color . 5)"
                      " (list-background-color 10 \"x\") (x-color 51 102 0 0))");
    ASSERT_TRUE(theme);
    expectColor(theme->titleColor(), 1, 0, 0, 1);
    expectColor(theme->subtitleColor(), 1, 0, 0, 128 / 255.0);
    expectColor(theme->separatorColor(), 127 / 255.0, 0, 0, 1);
    EXPECT_FALSE(theme->backgroundColor().isValid()) << "a colour must be a list";
    expectColor(theme->listBackgroundColor(), 10 / 255.0, 0, 0, 1);
    expectColor(theme->queryColor("x-color"), 0.2, 0.4, 0, 0);
    EXPECT_FALSE(theme->queryColor("absent").isValid());

    // The scale is not clamped: only alpha, which the colour type cannot hold otherwise.
    float rgba[4];
    TlObject *value = tl_alist_get(theme->list(), "list-separator-color");
    ASSERT_TRUE(tl_color_from_list(value, rgba));
    EXPECT_FLOAT_EQ(rgba[0], static_cast<float>(127 / 255.0));
    EXPECT_FLOAT_EQ(rgba[3], 1.0f);
    tl_release(value);
    auto bright = make("'((list-title-color 510 -255 0 400))");
    expectColor(bright->titleColor(), 2, -1, 0, 1);
}

TEST_F(ThemeRecord, InsetsFillWhatTheListGives)
{
    auto theme = make("'((list-inset-portrait 10 0 20) (list-inset-landscape 1.9 x 3 4 5))");
    ASSERT_TRUE(theme);
    Theme::Insets p = theme->insetForList(Theme::Orientation::PortraitUpsideDown);
    EXPECT_EQ(p.top, 10);
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.bottom, 20);
    EXPECT_EQ(p.right, 0);
    Theme::Insets l = theme->insetForList(Theme::Orientation::LandscapeRight);
    EXPECT_EQ(l.top, 1);
    EXPECT_EQ(l.left, 0) << "a non-number keeps the slot's value";
    EXPECT_EQ(l.bottom, 3);
    EXPECT_EQ(l.right, 4);
    float quad[4] = {7, 7, 7, 7};
    EXPECT_FALSE(theme->queryQuadruple("absent", quad));
    EXPECT_EQ(quad[0], 7);
    EXPECT_TRUE(theme->queryQuadruple("list-inset-portrait", quad));
    EXPECT_EQ(quad[3], 7);
}

TEST_F(ThemeRecord, OnlyTheTrueObjectTurnsTheScrollIndicatorOn)
{
    EXPECT_TRUE(make("'((scroll-indicator . #t))")->visibleScrollIndicator());
    EXPECT_FALSE(make("'((scroll-indicator . #f))")->visibleScrollIndicator());
    EXPECT_FALSE(make("'((scroll-indicator . 1))")->visibleScrollIndicator());
    EXPECT_FALSE(make("'((scroll-indicator #t))")->visibleScrollIndicator());
    EXPECT_FALSE(make("'((other . #t))")->visibleScrollIndicator());
}

TEST_F(ThemeRecord, FirstEntryOfAKeyWinsAndOtherEntriesAreIgnored)
{
    auto theme = make("'(7 \"s\" (\"list-title-color\" 1 1 1) ((list-title-color) 2 2 2)"
                      " (list-title-color 255 255 255) (list-title-color 0 0 0))");
    ASSERT_TRUE(theme);
    expectColor(theme->titleColor(), 1, 1, 1, 1);
}

TEST_F(ThemeRecord, StringsComeBackAsText)
{
    auto theme = make("'((background-image-portrait . \"caf\xC3\xA9.png\") (n . 5) (l \"a\"))");
    EXPECT_EQ(theme->queryString("background-image-portrait"), QString::fromUtf8("caf\xC3\xA9.png"));
    EXPECT_TRUE(theme->queryString("n").isNull());
    EXPECT_TRUE(theme->queryString("l").isNull());
    EXPECT_TRUE(theme->queryString("absent").isNull());
}

TEST_F(ThemeRecord, OnlyFilesEndingInAListAreThemes)
{
    EXPECT_FALSE(make("(define x 1)"));
    EXPECT_FALSE(make("'()"));
    EXPECT_FALSE(make("'((a . 1)) (foo)"));
    EXPECT_FALSE(make("\"just text\""));
    EXPECT_FALSE(make(""));
    EXPECT_FALSE(Theme::fromFile(QString::fromStdString(dir.path()), "missing.thm"));
    auto theme = make("'((a . 1)) )", "Plain.thm");
    ASSERT_TRUE(theme);
    EXPECT_EQ(theme->themeName(), "Plain.thm");
    EXPECT_EQ(theme->fullPath(), QString::fromStdString(dir.file("Plain.thm")));
}

TEST_F(ThemeRecord, BackgroundImagesLoadOnceAndRetryWhenMissing)
{
    QImage picture(4, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString(dir.file("p.png"))));
    auto theme = make("'((background-image-portrait . \"p.png\") (background-image-landscape . \"l.png\"))");
    ASSERT_TRUE(theme);
    QImage p = theme->backgroundImage(Theme::Orientation::Portrait);
    EXPECT_EQ(p.size(), QSize(4, 6));
    QFile::remove(QString::fromStdString(dir.file("p.png")));
    EXPECT_EQ(theme->backgroundImage(Theme::Orientation::PortraitUpsideDown).size(), QSize(4, 6)) << "kept";

    EXPECT_TRUE(theme->backgroundImage(Theme::Orientation::LandscapeLeft).isNull());
    picture.scaled(6, 4).save(QString::fromStdString(dir.file("l.png")));
    EXPECT_EQ(theme->backgroundImage(Theme::Orientation::LandscapeRight).size(), QSize(6, 4)) << "tried again";

    EXPECT_TRUE(make("'((a . 1))")->backgroundImage(Theme::Orientation::Portrait).isNull());
}

TEST_F(ThemeRecord, ThemeFoldersFollowTheBundleAndTheIdiom)
{
    QString bundle = QString::fromStdString(dir.path());
    QDir().mkpath(bundle + "/theme/iPad");
    QDir().mkpath(bundle + "/theme/iPhone");
    lmtest::writeFile(dir.file("theme/iPad/Big.thm"), std::string("'((list-inset-portrait 40))"));
    Theme::setBundlePath(bundle);
    Theme::setIdiom(Theme::Idiom::Tablet);
    auto theme = Theme::fromFilename("Big.thm");
    Theme::setIdiom(Theme::Idiom::Phone);
    std::shared_ptr<Theme> phone;
    tltest::capture([&] { phone = Theme::fromFilename("Big.thm"); });
    Theme::setBundlePath(QString());
    ASSERT_TRUE(theme);
    EXPECT_EQ(theme->themeFolder(), bundle + "/theme/iPad");
    EXPECT_EQ(theme->insetForList(Theme::Orientation::Portrait).top, 40);
    EXPECT_FALSE(phone) << "a phone looks in theme/iPhone";
    EXPECT_TRUE(Theme::bundlePath().endsWith("/share/lumenar"));
}

TEST(ThemeSettings, CurrentThemeComesFromTheUserDefaults)
{
    lmtest::TempDir config;
    lmtest::ScopedEnv env("XDG_CONFIG_HOME", config.path());
    EXPECT_TRUE(Theme::currentThemeName().isNull());
    UserDefaults::setString(SettingsKeys::CurrentTheme, "Night.thm");
    EXPECT_EQ(Theme::currentThemeName(), "Night.thm");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(config.file("Lumenar/Lumenar.conf"))));
}

TEST(ThemeShipped, EveryShippedThemeLoadsWithItsImages)
{
    for (const char *device : {"iPhone", "iPad"}) {
        QDir folder(QString::fromStdString(lmtest::sourceDir() + "/data/theme/") + device);
        QStringList names = folder.entryList({"*.thm"}, QDir::Files, QDir::Name);
        EXPECT_GE(names.size(), 4) << device;
        EXPECT_TRUE(names.contains(SettingsKeys::DefaultTheme)) << device;
        for (const QString &name : names) {
            SCOPED_TRACE(std::string(device) + "/" + name.toStdString());
            std::shared_ptr<Theme> theme;
            tltest::Captured streams = tltest::capture([&] { theme = Theme::fromFile(folder.path(), name); });
            ASSERT_TRUE(theme);
            EXPECT_EQ(streams.out + streams.err, "") << "loads without a diagnostic";
            EXPECT_TRUE(theme->titleColor().isValid());
            EXPECT_TRUE(theme->subtitleColor().isValid());
            EXPECT_TRUE(theme->listBackgroundColor().isValid());
            EXPECT_TRUE(theme->backgroundColor().isValid());
            EXPECT_TRUE(theme->separatorColor().isValid());
            for (auto o : {Theme::Orientation::Portrait, Theme::Orientation::LandscapeLeft}) {
                const char *key = Theme::isPortrait(o) ? "background-image-portrait" : "background-image-landscape";
                if (!theme->queryString(key).isNull()) {
                    EXPECT_FALSE(theme->backgroundImage(o).isNull()) << key;
                }
            }
        }
    }
}

} // namespace
