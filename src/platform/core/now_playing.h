// The system's now-playing information and remote-control events, published as an MPRIS
// media player on the D-Bus session bus (org.mpris.MediaPlayer2.lumenar).
//
// The track player replaces the information on every item change; desktop controls and
// media keys arrive as remote-control events (the subtypes below). Without a session bus
// everything here is silently absent. Main thread only.
#pragma once

#include <functional>

#include <QImage>
#include <QObject>
#include <QString>
#include <QVariantMap>

enum RemoteControlEvent {
    RemoteControlPlay = 100,
    RemoteControlPause = 101,
    RemoteControlStop = 102,
    RemoteControlTogglePlayPause = 103,
    RemoteControlNextTrack = 104,
    RemoteControlPreviousTrack = 105,
};

struct NowPlayingInfo {
    QString title;
    QString album;    // empty: absent
    QString artist;   // empty: absent
    QImage artwork;   // null: absent
    double length = 0;   // seconds, 0 when unknown
};

class NowPlaying : public QObject {
    Q_OBJECT
public:
    // Created on first use; tries to publish on the session bus once.
    static NowPlaying *shared();

    bool isPublished() const { return published_; }
    QString serviceName() const { return serviceName_; }

    void setInfo(const NowPlayingInfo &info);
    void clear();
    void setPlaying(bool playing);
    // Asked when a peer reads the position (seconds).
    void setPositionProvider(std::function<double()> provider) { position_ = std::move(provider); }

    // For the bus adaptors.
    QVariantMap metadata() const { return metadata_; }
    QString playbackStatus() const;
    qlonglong positionMicroseconds() const;
    void receive(int subtype) { emit remoteControlReceived(subtype); }

signals:
    void remoteControlReceived(int subtype);

private:
    explicit NowPlaying(QObject *parent = nullptr);
    ~NowPlaying() override;
    void publish();
    static void volumeChanged(void *user, float level);
    void propertiesChanged(const QVariantMap &changed);

    bool published_ = false;
    bool hasItem_ = false;
    bool playing_ = false;
    QString serviceName_;
    QVariantMap metadata_;
    QString artPath_;
    quint64 trackCounter_ = 0;
    std::function<double()> position_;
};
