#include "ui/sample_library.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

namespace {

void appendLe(QByteArray &out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out.append(char((value >> (8 * i)) & 0xff));
}

void appendSynchsafe(QByteArray &out, quint32 value)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        out.append(char((value >> shift) & 0x7f));
}

QByteArray textFrame(const char *id, const QString &text)
{
    QByteArray body;
    body.append(char(3));  // UTF-8
    body.append(text.toUtf8());
    QByteArray frame(id, 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.append(char((body.size() >> shift) & 0xff));
    frame.append(2, '\0');
    return frame + body;
}

QByteArray id3Tag(const QString &title, const QString &artist, const QString &album, int track)
{
    QByteArray frames;
    if (!title.isEmpty())
        frames += textFrame("TIT2", title);
    if (!artist.isEmpty())
        frames += textFrame("TPE1", artist);
    if (!album.isEmpty())
        frames += textFrame("TALB", album);
    if (track > 0)
        frames += textFrame("TRCK", QString::number(track));
    QByteArray tag("ID3\x03\x00\x00", 6);
    appendSynchsafe(tag, quint32(frames.size()));
    return tag + frames;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool writeCover(const QString &path, const QColor &from, const QColor &to)
{
    QImage image(600, 600, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 600, 600);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    p.fillRect(image.rect(), g);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; i++) {
        p.setBrush(QColor(255, 255, 255, 28 + i * 10));
        p.drawEllipse(QPointF(300, 330), 250 - i * 45, 250 - i * 45);
    }
    p.end();
    return image.save(path);
}

struct Track {
    const char *title;
    int seconds;
};

// A folder of tagged tracks named "NN Title.wav".
bool writeAlbum(const QString &dir, const QString &artist, const QString &album, const QList<Track> &tracks)
{
    if (!QDir().mkpath(dir))
        return false;
    for (int i = 0; i < tracks.size(); i++) {
        const QString title = QLatin1String(tracks[i].title);
        const QString name = QStringLiteral("%1/%2 %3.wav").arg(dir).arg(i + 1, 2, 10, QLatin1Char('0')).arg(title);
        if (!SampleLibrary::writeWav(name, tracks[i].seconds, title, artist, album, i + 1))
            return false;
    }
    return true;
}

} // namespace

bool SampleLibrary::writeWav(const QString &path, double seconds, const QString &title, const QString &artist,
                             const QString &album, int track)
{
    const quint32 rate = 44100, channels = 2, bits = 16;
    const quint64 frames = quint64(seconds * rate);
    const quint64 dataSize = frames * channels * bits / 8;
    QByteArray fmt;
    appendLe(fmt, 1, 2);
    appendLe(fmt, channels, 2);
    appendLe(fmt, rate, 4);
    appendLe(fmt, rate * channels * bits / 8, 4);
    appendLe(fmt, channels * bits / 8, 2);
    appendLe(fmt, bits, 2);
    const bool tagged = !title.isEmpty() || !artist.isEmpty() || !album.isEmpty() || track > 0;
    QByteArray tag = tagged ? id3Tag(title, artist, album, track) : QByteArray();
    if (tag.size() % 2)
        tag.append('\0');
    QByteArray head("RIFF", 4);
    appendLe(head, 4 + 8 + fmt.size() + (tagged ? 8 + tag.size() : 0) + 8 + dataSize, 4);
    head += "WAVEfmt ";
    appendLe(head, quint64(fmt.size()), 4);
    head += fmt;
    if (tagged) {
        head += "id3 ";
        appendLe(head, quint64(tag.size()), 4);
        head += tag;
    }
    head += "data";
    appendLe(head, dataSize, 4);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(head) != head.size())
        return false;
    // The samples are a hole in the file: silence that takes no space.
    return f.resize(head.size() + qint64(dataSize));
}

bool SampleLibrary::write(const QString &folder)
{
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return false;
    bool ok = true;

    const QString d1 = folder + QStringLiteral("/Aster Vale - Morning Light");
    ok = ok && writeAlbum(d1, QStringLiteral("Aster Vale"), QStringLiteral("Morning Light"),
                          {{"Dawn Chorus", 221}, {"Paper Boats", 252}, {"The Long Way Round", 178}, {"Tidewater", 305}});
    ok = ok && writeCover(d1 + QStringLiteral("/Morning Light.png"), QColor(255, 170, 90), QColor(200, 60, 110));
    ok = ok && writeFile(d1 + QStringLiteral("/Paper Boats.lrc"),
                         "[00:00.00]Paper Boats\n[00:08.50]We folded the morning into boats\n"
                         "[00:14.20]and let them drift along the gutter\n[00:20.80]past the bakery, past the school\n"
                         "[00:27.10]until the river took them under\n[00:34.00]Paper boats, paper boats\n"
                         "[00:40.60]everything we sent is still afloat\n");

    const QString d2 = folder + QStringLiteral("/The Quiet Harbour - Night Ferries");
    ok = ok && writeAlbum(d2, QStringLiteral("The Quiet Harbour"), QStringLiteral("Night Ferries"),
                          {{"Lanterns", 264}, {"Crossing", 231}});
    ok = ok && writeCover(d2 + QStringLiteral("/Night Ferries.png"), QColor(40, 60, 120), QColor(10, 20, 40));

    // A live recording kept as one image with its cue sheet.
    const QString d3 = folder + QStringLiteral("/Live at the Boathouse");
    ok = ok && dir.mkpath(d3);
    ok = ok && writeWav(d3 + QStringLiteral("/Live at the Boathouse.wav"), 14 * 60 + 8, QString(), QString(),
                        QString(), 0);
    ok = ok && writeFile(d3 + QStringLiteral("/Live at the Boathouse.cue"),
                         "PERFORMER \"Aster Vale\"\nTITLE \"Live at the Boathouse\"\n"
                         "FILE \"Live at the Boathouse.wav\" WAVE\n"
                         "  TRACK 01 AUDIO\n    TITLE \"Opening\"\n    PERFORMER \"Aster Vale\"\n    INDEX 01 00:00:00\n"
                         "  TRACK 02 AUDIO\n    TITLE \"Paper Boats (live)\"\n    PERFORMER \"Aster Vale\"\n    INDEX 01 03:12:00\n"
                         "  TRACK 03 AUDIO\n    TITLE \"Harbour Lights\"\n    PERFORMER \"Aster Vale\"\n    INDEX 01 08:45:37\n");

    ok = ok && writeWav(folder + QStringLiteral("/Voice memo.wav"), 47, QString(), QString(), QString(), 0);
    ok = ok && writeFile(folder + QStringLiteral("/Road Trip.m3u"),
                         "Aster Vale - Morning Light/02 Paper Boats.wav\n"
                         "The Quiet Harbour - Night Ferries/01 Lanterns.wav\n"
                         "Aster Vale - Morning Light/04 Tidewater.wav\n");
    ok = ok && writeFile(folder + QStringLiteral("/Quiet Evening.m3u"),
                         "The Quiet Harbour - Night Ferries/01 Lanterns.wav\n"
                         "The Quiet Harbour - Night Ferries/02 Crossing.wav\n");
    return ok;
}
