#include "platform/core/now_playing.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include "platform/audio_queue/output_volume.h"

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    explicit RootAdaptor(QObject *parent) : QDBusAbstractAdaptor(parent) {}
    bool canQuit() const { return false; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Lumenar"); }
    QString desktopEntry() const { return QStringLiteral("lumenar"); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const
    {
        return {QStringLiteral("audio/flac"), QStringLiteral("audio/x-wav"), QStringLiteral("audio/x-aiff"),
                QStringLiteral("audio/x-ape"), QStringLiteral("audio/mpeg"), QStringLiteral("audio/mp4")};
    }
public slots:
    void Raise() {}
    void Quit() {}
};

class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    PlayerAdaptor(NowPlaying *owner) : QDBusAbstractAdaptor(owner), owner_(owner) {}
    QString playbackStatus() const { return owner_->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {}
    QVariantMap metadata() const { return owner_->metadata(); }
    // The application's output level, which the now-playing screen and mixers move too.
    double volume() const { return LMOutputVolumeGet(); }
    void setVolume(double volume) { LMOutputVolumeSet(float(volume)); }
    qlonglong position() const { return owner_->positionMicroseconds(); }
    bool yes() const { return true; }
    bool no() const { return false; }
public slots:
    void Play() { owner_->receive(RemoteControlPlay); }
    void Pause() { owner_->receive(RemoteControlPause); }
    void Stop() { owner_->receive(RemoteControlStop); }
    void PlayPause() { owner_->receive(RemoteControlTogglePlayPause); }
    void Next() { owner_->receive(RemoteControlNextTrack); }
    void Previous() { owner_->receive(RemoteControlPreviousTrack); }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath &, qlonglong) {}
    void OpenUri(const QString &) {}

private:
    NowPlaying *owner_;
};

} // namespace

NowPlaying *NowPlaying::shared()
{
    static NowPlaying *instance = nullptr;
    if (instance == nullptr) {
        instance = new NowPlaying(QCoreApplication::instance());
        instance->publish();
    }
    return instance;
}

NowPlaying::NowPlaying(QObject *parent) : QObject(parent) {}

void NowPlaying::publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    if (!bus.registerObject(kObjectPath, this))
        return;
    // A second running instance takes a name of its own, as media players do.
    serviceName_ = QStringLiteral("org.mpris.MediaPlayer2.lumenar");
    if (!bus.registerService(serviceName_)) {
        serviceName_ += QStringLiteral(".instance%1").arg(getpid());
        if (!bus.registerService(serviceName_)) {
            bus.unregisterObject(kObjectPath);
            serviceName_.clear();
            return;
        }
    }
    published_ = true;
    LMOutputVolumeAddListener(&NowPlaying::volumeChanged, this);
}

NowPlaying::~NowPlaying()
{
    LMOutputVolumeRemoveListener(&NowPlaying::volumeChanged, this);
}

void NowPlaying::volumeChanged(void *user, float level)
{
    static_cast<NowPlaying *>(user)->propertiesChanged({{QStringLiteral("Volume"), double(level)}});
}

QString NowPlaying::playbackStatus() const
{
    if (!hasItem_)
        return QStringLiteral("Stopped");
    return playing_ ? QStringLiteral("Playing") : QStringLiteral("Paused");
}

qlonglong NowPlaying::positionMicroseconds() const
{
    return position_ ? qlonglong(position_() * 1e6) : 0;
}

void NowPlaying::setInfo(const NowPlayingInfo &info)
{
    QVariantMap m;
    m.insert(QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/lumenar/track/%1").arg(++trackCounter_))));
    m.insert(QStringLiteral("xesam:title"), info.title);
    if (!info.album.isEmpty())
        m.insert(QStringLiteral("xesam:album"), info.album);
    if (!info.artist.isEmpty())
        m.insert(QStringLiteral("xesam:artist"), QStringList{info.artist});
    if (info.length > 0)
        m.insert(QStringLiteral("mpris:length"), qlonglong(info.length * 1e6));
    if (!info.artwork.isNull()) {
        // Peers read art from a file; one file per process, replaced on each item.
        QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (dir.isEmpty() || !QDir(dir).exists())
            dir = QDir::tempPath();
        artPath_ = dir + QStringLiteral("/lumenar-cover-%1.png").arg(getpid());
        if (info.artwork.save(artPath_, "PNG"))
            m.insert(QStringLiteral("mpris:artUrl"), QUrl::fromLocalFile(artPath_).toString());
    }
    metadata_ = m;
    hasItem_ = true;
    propertiesChanged({{QStringLiteral("Metadata"), metadata_}, {QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void NowPlaying::clear()
{
    metadata_.clear();
    hasItem_ = false;
    if (!artPath_.isEmpty())
        QFile::remove(artPath_);
    propertiesChanged({{QStringLiteral("Metadata"), metadata_}, {QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void NowPlaying::setPlaying(bool playing)
{
    if (playing_ == playing)
        return;
    playing_ = playing;
    propertiesChanged({{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void NowPlaying::propertiesChanged(const QVariantMap &changed)
{
    if (!published_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

#include "now_playing.moc"
