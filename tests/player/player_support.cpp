#include "player_support.h"

#include <cstdio>

#include <QFile>

#include "platform/core/delayed_perform.h"

namespace playertest {

using lmtest::Bytes;
using lmtest::operator+;

std::vector<uint8_t> writeWav(const std::string &path, double seconds, uint32_t rate, uint16_t counterStart,
                              const std::string &title, const std::string &artist, const std::string &album)
{
    const Bytes pcm = lmtest::counterPcm16(size_t(seconds * rate), 2, counterStart);
    std::vector<lmtest::Chunk> after;
    Bytes frames;
    auto text = [](const std::string &s) { return Bytes{3} + lmtest::bytesOf(s); };   // UTF-8
    if (!title.empty())
        frames = frames + lmtest::id3Frame(4, "TIT2", text(title));
    if (!artist.empty())
        frames = frames + lmtest::id3Frame(4, "TPE1", text(artist));
    if (!album.empty())
        frames = frames + lmtest::id3Frame(4, "TALB", text(album));
    if (!frames.empty())
        after.push_back({"id3 ", lmtest::id3Tag(4, frames)});
    lmtest::writeFile(path, lmtest::wavFile(2, rate, 16, pcm, after));
    return pcm;
}

std::vector<uint8_t> writeImage(const std::string &dir, const std::string &name, double seconds,
                                const std::vector<int> &starts)
{
    const std::vector<uint8_t> pcm = writeWav(dir + "/" + name + ".wav", seconds);
    std::string cue = "PERFORMER \"Band\"\nTITLE \"Disc\"\nFILE \"" + name + ".wav\" WAVE\n";
    for (size_t i = 0; i < starts.size(); i++) {
        char line[160];
        snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n    TITLE \"T%zu\"\n    INDEX 01 %02d:%02d:00\n", i + 1,
                 i + 1, starts[i] / 60, starts[i] % 60);
        cue += line;
    }
    lmtest::writeFile(dir + "/" + name + ".cue", cue);
    return pcm;
}

PlayableItemPtr item(const std::string &path)
{
    return PlayableItem::itemWithPath(QString::fromStdString(path));
}

std::vector<uint8_t> wavPcm(const std::string &path, uint32_t *rate)
{
    std::vector<uint8_t> f = lmtest::readFile(path);
    if (f.size() < 44)
        return {};
    if (rate)
        *rate = uint32_t(f[24]) | uint32_t(f[25]) << 8 | uint32_t(f[26]) << 16 | uint32_t(f[27]) << 24;
    const uint32_t size = uint32_t(f[40]) | uint32_t(f[41]) << 8 | uint32_t(f[42]) << 16 | uint32_t(f[43]) << 24;
    return std::vector<uint8_t>(f.begin() + 44, f.begin() + 44 + std::min<size_t>(size, f.size() - 44));
}

std::vector<uint8_t> slice(const std::vector<uint8_t> &pcm, double from, double to)
{
    const size_t a = std::min(pcm.size(), size_t(from * kRate) * kFrameBytes);
    const size_t b = std::min(pcm.size(), size_t(to * kRate) * kFrameBytes);
    return std::vector<uint8_t>(pcm.begin() + long(a), pcm.begin() + long(std::max(a, b)));
}

Recorder::Recorder(UniPlayer &player) : player_(player)
{
    for (int event = 0; event <= 5; event++)
        player.addEventHandler(this, "record" + QByteArray::number(event),
                               [this, event] {
                                   entries.push_back({event, player_.currentTime(), player_.currentItem(),
                                                      bool(player_.queuedItem())});
                               },
                               event);
}

Recorder::~Recorder()
{
    player_.removeEventHandler(this);
}

int Recorder::count(int event) const
{
    int n = 0;
    for (const Entry &e : entries)
        n += e.event == event;
    return n;
}

std::vector<QString> Recorder::itemTitles() const
{
    std::vector<QString> titles;
    const PlayableItem *last = nullptr;
    for (const Entry &e : entries) {
        if (e.item && e.item.get() != last)
            titles.push_back(e.item->title());
        if (e.item)
            last = e.item.get();
    }
    return titles;
}

PlayableItemPtr ListDelegate::nextItem()
{
    asked++;
    askedAt.push_back(player_.decodeTime());
    if (items_.isEmpty())
        return nullptr;
    const PlayableItemPtr current = player_.currentItem();
    if (!current)
        return items_.first();
    for (qsizetype i = 0; i < items_.size(); i++) {
        if (!items_.at(i)->isEqualToItem(current))
            continue;
        if (i + 1 < items_.size())
            return items_.at(i + 1);
        return loop_ ? items_.first() : nullptr;
    }
    return items_.first();
}

int OpenCounter::opened = 0;
int OpenCounter::asked = 0;

LMFile *OpenCounter::open(const char *path)
{
    asked++;
    LMFile *file = LMFileOpen(path);
    opened += file != nullptr;
    return file;
}

bool waitUntilIdle(UniPlayer &player, int timeoutMs)
{
    return lmtest::waitUntil(
        [&] {
            const LMPlayerState state = LMPlayerGetState(player.engine());
            return !player.currentItem() && DelayedPerform::pendingCount(&player, UniPlayer::kPlayAction) == 0 &&
                   state != LMPlayerStatePlaying && state != LMPlayerStateEnded;
        },
        timeoutMs);
}

} // namespace playertest
