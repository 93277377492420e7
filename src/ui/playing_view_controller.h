// PlayingViewController: the now-playing screen. A dark strip at the top with the elapsed
// and remaining time, the position bar and the step-back button; the artist, album and
// format lines with the cover (which follows a sideways drag and springs back); the lyrics
// when an LRC file lies beside the track; the transport panel (previous, play/pause, next)
// with the output volume. The main play list pushes it and hands it its theme and itself
// as the source of previous and next items.
//
// It refreshes from the track player's events while shown (0 position, 1 item, 2 and 3
// pause and play) and from nothing else; remote-control events are the play list's. A
// cover the user picks is written beside the track as JPEG, named after its album.
#pragma once

#include <functional>

#include <QImage>
#include <QPointer>
#include <QUrl>

#include "library/playable_item.h"
#include "ui/screen_controller.h"
#include "ui/theme_helper.h"

class PlayingSource;
class QQuickItem;
class RootViewController;
class UniPlayer;

class PlayingViewController : public ScreenController {
    Q_OBJECT
    Q_PROPERTY(ThemeHelper *theme READ theme CONSTANT)
    Q_PROPERTY(QString artist READ artist NOTIFY itemChanged)
    Q_PROPERTY(QString album READ album NOTIFY itemChanged)
    Q_PROPERTY(QString mediaInfo READ mediaInfo NOTIFY itemChanged)
    Q_PROPERTY(QImage cover READ cover NOTIFY coverChanged)
    Q_PROPERTY(bool hasCover READ hasCover NOTIFY coverChanged)
    Q_PROPERTY(QString lyricsPath READ lyricsPath NOTIFY lyricsChanged)
    Q_PROPERTY(QString elapsedText READ elapsedText NOTIFY progressChanged)
    Q_PROPERTY(QString remainingText READ remainingText NOTIFY progressChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int totalSeconds READ totalSeconds NOTIFY progressChanged)
    Q_PROPERTY(double lyricsTime READ lyricsTime NOTIFY progressChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY playPauseChanged)
    Q_PROPERTY(QString playImage READ playImage NOTIFY playPauseChanged)
    Q_PROPERTY(int backStep READ backStep NOTIFY backStepChanged)
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(bool seekListening READ seekListening NOTIFY seekListeningChanged)
    Q_PROPERTY(QUrl picturesFolder READ picturesFolder CONSTANT)

public:
    // Seeks closer than this to the current time are not worth a new start.
    static constexpr double kSeekThreshold = 5.0;
    static constexpr int kDefaultBackStep = 30;
    static constexpr int kCoverJpegQuality = 80;
    static constexpr int kPhoneCoverSize = 300;
    static constexpr int kTabletCoverSize = 640;
    static constexpr int kLyricsHeight = 60;

    // `source` is the main play list screen (its theme and its PlayingSource); without one
    // the screen keeps a theme of its own and steps through the application's play list.
    PlayingViewController(UiContext *context, RootViewController *source = nullptr, QObject *parent = nullptr);
    ~PlayingViewController() override;

    ThemeHelper *theme() const { return theme_; }
    const QString &artist() const { return artist_; }
    const QString &album() const { return album_; }
    const QString &mediaInfo() const { return mediaInfo_; }
    const QImage &cover() const { return cover_; }
    bool hasCover() const { return !cover_.isNull(); }
    const QString &lyricsPath() const { return lyricsPath_; }
    const QString &elapsedText() const { return elapsedText_; }
    const QString &remainingText() const { return remainingText_; }
    double progress() const { return progress_; }
    int totalSeconds() const { return totalSeconds_; }
    double lyricsTime() const { return lyricsTime_; }
    bool playing() const;
    QString playImage() const { return playing() ? QStringLiteral("pause") : QStringLiteral("play"); }
    int backStep() const { return backStep_; }
    double volume() const;
    void setVolume(double volume);
    bool seekListening() const { return seekListening_; }
    static QUrl picturesFolder();

    // The step of the step-back button: the user default BackStep, 30 when it is 0 or less.
    static int backstep();
    // "%d Hz, %d Bit", "%d Hz" or "" for an item's format.
    static QString mediaInfoText(int sampleRate, int bits);
    // "mm:ss" of whole seconds (negative counts as 0).
    static QString timeText(double seconds);
    // Where a picked cover is written for an item: <album>.jpg beside its file, or
    // <file name>.jpg without an album; null when neither makes a name inside its folder.
    static QString coverPathFor(const PlayableItem &item);

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;

    // Actions of the controls.
    Q_INVOKABLE void back();
    Q_INVOKABLE void playBack();
    Q_INVOKABLE void prev();
    Q_INVOKABLE void togglePlay();
    Q_INVOKABLE void next();
    // The slider's listener: a seek gesture ended at `value` (0...1 of the item).
    Q_INVOKABLE void endSeeking(double value);

    // Refreshes, each from the player's state.
    void updateProgress();
    void onPlayPause();
    void onItemChange();

    // The picture chooser. Tests put one in; without one the view opens its file dialog
    // (modal on a phone, a popover at the import button on a tablet) and reports back
    // through imageFilePicked / imagePickCancelled.
    using ImagePicker = std::function<void(std::function<void(const QImage &)> done)>;
    void setImagePicker(ImagePicker picker) { picker_ = std::move(picker); }
    Q_INVOKABLE void importCoverImage();
    Q_INVOKABLE void imageFilePicked(const QUrl &file);
    Q_INVOKABLE void imagePickCancelled() {}
    // Places the open file dialog: over the whole window on a phone, a 360 x 640 popover
    // beside `anchor` (the import button) on a tablet.
    Q_INVOKABLE void placePickerAt(QQuickItem *anchor);
    // Shows the picture and stores it beside the current item; answers the file written
    // (null when nothing was written).
    QString didPickImage(const QImage &image);

signals:
    void itemChanged();
    void coverChanged();
    void lyricsChanged();
    void progressChanged();
    void playPauseChanged();
    void backStepChanged();
    void volumeChanged();
    void seekListeningChanged();
    // The view opens its picture chooser; `popover` on a tablet.
    void imagePickerRequested(bool popover);

private:
    UniPlayer *player() const;
    PlayingSource *source() const;
    void showLRCForItem(const PlayableItemPtr &item);
    // Position refreshes run only while the screen shows them (the player dispatches
    // position events only while someone watches); this is the one place that starts and
    // stops them.
    void startUpdates();
    void stopUpdates();
    static void outputVolumeChanged(void *user, float level);

    QPointer<RootViewController> root_;
    ThemeHelper *theme_;
    BarButton *backButton_;
    QString artist_;
    QString album_;
    QString mediaInfo_;
    QImage cover_;
    QString lyricsPath_;
    QString elapsedText_ = QStringLiteral("00:00");
    QString remainingText_ = QStringLiteral("-00:00");
    double progress_ = 0;
    int totalSeconds_ = 0;
    double lyricsTime_ = 0;
    int backStep_ = kDefaultBackStep;
    bool seekListening_ = false;
    bool updating_ = false;
    QPointer<UniPlayer> updatedBy_;
    ImagePicker picker_;
};
