// The painted pieces of the now-playing screen: the position bar (value, relative drags,
// adjust gestures, drawing), the seek bar strip and the lyrics strip.
#include <QPainter>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include "support/test_support.h"
#include "ui/lm_slider.h"
#include "ui/lrc_view.h"
#include "ui/seek_bar_panel_view.h"

namespace {

class SliderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QT_QUICK_BACKEND", "software");
        lmtest::ensureApp();
        window = std::make_unique<QQuickWindow>();
        window->resize(320, 60);
        slider = new LMSlider(window->contentItem());
        slider->setSize(QSizeF(270, 30));
        slider->setY(15);
        slider->setListening(true);
        slider->setTotalTime(200);
        window->show();
        lmtest::spin(20);
    }
    // A finger on the bar at x, moved by each of `moves`, then lifted.
    void drag(qreal x, const QList<qreal> &moves)
    {
        const int y = 30;
        QTest::mousePress(window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(int(x), y));
        for (qreal dx : moves) {
            x += dx;
            QTest::mouseMove(window.get(), QPoint(int(x), y));
        }
        QTest::mouseRelease(window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(int(x), y));
    }
    QImage draw()
    {
        QImage image(270, 30, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        slider->paint(&p);
        return image;
    }

    std::unique_ptr<QQuickWindow> window;
    LMSlider *slider = nullptr;
};

TEST_F(SliderTest, ValueIsClampedAndTheMarkFollowsOutsideAGesture)
{
    slider->setValue(1.5);
    EXPECT_EQ(slider->value(), 1.0);
    EXPECT_EQ(slider->seekingValue(), 1.0);
    slider->setValue(-0.2);
    EXPECT_EQ(slider->value(), 0.0);
    EXPECT_EQ(slider->seekingValue(), 0.0);
}

TEST_F(SliderTest, DragsAreRelativeAndNotifyOnceOnRelease)
{
    QSignalSpy ended(slider, &LMSlider::seekEnded);
    slider->setValue(0.5);
    // Wherever the finger lands, 27 pixels of a 270-pixel bar move the mark by a tenth.
    QTest::mousePress(window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
    QTest::mouseMove(window.get(), QPoint(47, 30));
    EXPECT_TRUE(slider->manualSeeking());
    EXPECT_NEAR(slider->seekingValue(), 0.6, 1e-9);
    // Playback goes on moving the played bar, not the mark.
    slider->setValue(0.52);
    EXPECT_NEAR(slider->value(), 0.52, 1e-9);
    EXPECT_NEAR(slider->seekingValue(), 0.6, 1e-9);
    EXPECT_EQ(slider->seekText(), "02:00");
    EXPECT_EQ(ended.count(), 0);
    QTest::mouseRelease(window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(47, 30));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_NEAR(slider->value(), 0.6, 1e-9);
    EXPECT_FALSE(slider->manualSeeking());

    // Past the end the mark stops at 1.
    drag(200, {60, 60});
    EXPECT_EQ(slider->value(), 1.0);
    EXPECT_EQ(ended.count(), 2);
}

TEST_F(SliderTest, ADragBackToItsStartNotifiesAndATapDoesNot)
{
    QSignalSpy ended(slider, &LMSlider::seekEnded);
    slider->setValue(0.3);
    drag(100, {30, -30});
    EXPECT_EQ(ended.count(), 1);
    EXPECT_NEAR(slider->value(), 0.3, 1e-9);
    drag(100, {});
    EXPECT_EQ(ended.count(), 1);
    EXPECT_NEAR(slider->value(), 0.3, 1e-9);
    // Without a listener nobody hears of the end.
    slider->setListening(false);
    drag(100, {40});
    EXPECT_EQ(ended.count(), 1);
}

TEST_F(SliderTest, AdjustGesturesStepByAHundredthAndSettleLater)
{
    QSignalSpy ended(slider, &LMSlider::seekEnded);
    slider->setValue(0.5);
    for (int i = 0; i < 10; i++)
        slider->accessibilityIncrement();
    EXPECT_NEAR(slider->value(), 0.6, 1e-9);
    EXPECT_EQ(ended.count(), 10);
    EXPECT_TRUE(slider->manualSeeking());
    EXPECT_TRUE(slider->stablizePending());
    slider->accessibilityDecrement();
    EXPECT_NEAR(slider->value(), 0.59, 1e-9);
    slider->stablize();
    EXPECT_FALSE(slider->manualSeeking());
    EXPECT_FALSE(slider->stablizePending());
    slider->setValue(0.995);
    slider->accessibilityIncrement();
    EXPECT_EQ(slider->value(), 1.0);
}

TEST_F(SliderTest, DrawsTheTrackThePlayedPartAndTheSeekMark)
{
    slider->setValue(0.5);
    const QRectF track = slider->trackRect();
    EXPECT_EQ(track, QRectF(10, 12, 250, 6));
    const int y = 15;
    QImage image = draw();
    EXPECT_EQ(image.pixel(50, y), QColor::fromRgbF(0.7, 0.7, 0, 1).rgba());    // played
    EXPECT_EQ(image.pixel(200, y), QColor::fromRgbF(0.5, 0.5, 0.5, 1).rgba()); // the rest
    EXPECT_EQ(image.pixelColor(5, y).alpha(), 0);                          // the inset
    EXPECT_EQ(image.pixelColor(50, 3).alpha(), 0);                         // no label

    QTest::mousePress(window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 30));
    QTest::mouseMove(window.get(), QPoint(154, 30));   // mark at 0.7
    image = draw();
    // Yellow at 80% over the played part.
    const QColor mark = image.pixelColor(170, y);
    EXPECT_NEAR(mark.red(), 230, 2);
    EXPECT_NEAR(mark.green(), 230, 2);
    EXPECT_NEAR(mark.blue(), 26, 2);
    EXPECT_EQ(image.pixel(200, y), QColor::fromRgbF(0.5, 0.5, 0.5, 1).rgba());
    QTest::mouseRelease(window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(154, 30));
}

TEST(SeekBarPanel, DarkStripWithAShadowBelow)
{
    qputenv("QT_QUICK_BACKEND", "software");
    lmtest::ensureApp();
    SeekBarPanelView panel;
    panel.setSize(QSizeF(320, 50));
    QImage image(320, 50, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    panel.paint(&p);
    p.end();
    EXPECT_EQ(image.pixel(100, 10), QColor::fromRgbF(0.102, 0.102, 0.102, 1).rgba());
    EXPECT_EQ(image.pixel(100, 47), QColor::fromRgbF(0.102, 0.102, 0.102, 1).rgba());
    const QColor shadow = image.pixelColor(100, 48);
    EXPECT_GT(shadow.alpha(), 0);
    EXPECT_LT(shadow.alpha(), 255);
}

class LyricsViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QT_QUICK_BACKEND", "software");
        lmtest::ensureApp();
        view.setSize(QSizeF(320, 60));
    }
    QString write(const std::string &text)
    {
        const std::string path = dir.file("song.lrc");
        lmtest::writeFile(path, text);
        return QString::fromStdString(path);
    }
    QStringList texts() const
    {
        QStringList out;
        for (const LRCView::Row &r : view.rows())
            out << r.text;
        return out;
    }

    lmtest::TempDir dir;
    LRCView view;
};

TEST_F(LyricsViewTest, TheCurrentLineGoesOnTopAndTheRowsScrollOnce)
{
    view.setFile(write("[00:10.00]One\n[00:20.00]Two\n[00:30.00]Three\n[00:40.00]Four\n"));
    view.setViewableLineCount(2);
    ASSERT_EQ(view.rows().size(), 3);
    view.setCurrentTime(5);  // before the first tag: nothing
    EXPECT_EQ(view.currentLine(), -1);
    EXPECT_FALSE(view.animating());
    EXPECT_EQ(texts(), (QStringList{"", "", ""}));

    view.setCurrentTime(21);
    EXPECT_EQ(view.currentLine(), 1);
    EXPECT_EQ(view.currentText(), "Two");
    EXPECT_TRUE(view.animating());
    view.finishAnimation();
    const QList<LRCView::Row> rows = view.rows();
    EXPECT_EQ(rows[0].text, "Two");
    EXPECT_EQ(rows[0].pos, 0);
    EXPECT_EQ(rows[0].alpha, 1.0);
    EXPECT_EQ(rows[1].text, "Three");
    EXPECT_EQ(rows[1].pos, 1);
    EXPECT_EQ(rows[1].alpha, 0.5);
    EXPECT_EQ(rows[2].pos, -1);  // the row taken out left upwards, faded
    EXPECT_EQ(rows[2].alpha, 0.0);

    // Any time within the same line starts nothing.
    view.setCurrentTime(29.9);
    EXPECT_FALSE(view.animating());
    // Past the last tag the last line stays on top with nothing below it.
    view.setCurrentTime(100);
    EXPECT_EQ(view.currentText(), "Four");
    view.finishAnimation();
    EXPECT_EQ(view.rows()[0].text, "Four");
    EXPECT_EQ(view.rows()[1].text, "");
}

TEST_F(LyricsViewTest, WithoutAnimationALineTakesItsPlaceAtOnce)
{
    view.setAnimated(false);
    // The time may arrive before the file.
    view.setCurrentTime(12);
    view.setFile(write("[00:00.00]Intro\n[00:11.00]Verse\n"));
    EXPECT_EQ(view.currentLine(), 1);
    EXPECT_FALSE(view.animating());
    EXPECT_EQ(view.rows()[0].text, "Verse");
}

TEST_F(LyricsViewTest, AFileWithoutTagsStaysEmptyAndATapTogglesTheThemeBackground)
{
    view.setFile(write("[ti:Nothing timed]\njust words\n"));
    view.setCurrentTime(30);
    EXPECT_EQ(view.lineCount(), 0);
    EXPECT_EQ(view.currentLine(), -1);
    EXPECT_EQ(view.currentText(), "");

    view.toggleBackground();  // no theme colour: stays clear
    EXPECT_FALSE(view.backgroundShown());
    view.setThemeBackgroundColor(QColor(10, 20, 30));
    view.toggleBackground();
    EXPECT_TRUE(view.backgroundShown());
    QImage image(320, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    view.paint(&p);
    p.end();
    EXPECT_EQ(image.pixel(5, 5), QColor(10, 20, 30).rgba());
    view.toggleBackground();
    EXPECT_FALSE(view.backgroundShown());
}

} // namespace
