// Helpers of the track player and play-list tests: WAV files and disc images with cue
// sheets on disk, a recorder of player events and a list delegate.
#pragma once

#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "engine/lm_file.h"
#include "library/playable_item.h"
#include "player/uni_player.h"
#include "support/audio_builders.h"
#include "support/fake_audio_file.h"
#include "support/test_support.h"

namespace playertest {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrameBytes = 4;   // 16-bit stereo

// A 16-bit stereo WAV of distinct samples (a counter from `counterStart`), tagged when
// title, artist or album are given. Answers its PCM.
std::vector<uint8_t> writeWav(const std::string &path, double seconds, uint32_t rate = kRate,
                              uint16_t counterStart = 0, const std::string &title = "",
                              const std::string &artist = "", const std::string &album = "");
// A WAV image `name`.wav with `name`.cue beside it: tracks starting at the given whole
// seconds, titled T1, T2, ... Answers the image's PCM.
std::vector<uint8_t> writeImage(const std::string &dir, const std::string &name, double seconds,
                                const std::vector<int> &starts);
PlayableItemPtr item(const std::string &path);

// The PCM of a WAV file written by the WAV outputs (canonical 44-byte header).
std::vector<uint8_t> wavPcm(const std::string &path, uint32_t *rate = nullptr);
// Bytes of `pcm` from second `from` to second `to` (16-bit stereo at kRate).
std::vector<uint8_t> slice(const std::vector<uint8_t> &pcm, double from, double to);

// Records every event the player dispatches, with the heard position and the current item.
class Recorder : public QObject {
public:
    struct Entry {
        int event;
        double time;
        PlayableItemPtr item;
        bool queued;   // a next item was queued at that moment
    };
    explicit Recorder(UniPlayer &player);
    ~Recorder() override;
    std::vector<Entry> entries;
    int count(int event) const;
    // Distinct items in the order they became current.
    std::vector<QString> itemTitles() const;

private:
    UniPlayer &player_;
};

// The next item is the one after the current in the list; without a current item the
// first; after the last none, or the first when looping. Counts how often it was asked.
class ListDelegate : public UniPlayerDelegate {
public:
    ListDelegate(UniPlayer &player, PlayableItemList items, bool loop = false)
        : player_(player), items_(std::move(items)), loop_(loop)
    {
    }
    PlayableItemPtr nextItem() override;
    int asked = 0;
    std::vector<double> askedAt;   // the decode position at each request

private:
    UniPlayer &player_;
    PlayableItemList items_;
    bool loop_;
};

// An opener that counts the files it opened (and those it was asked for).
struct OpenCounter {
    static int opened;
    static int asked;
    static LMFile *open(const char *path);
    static void reset() { opened = asked = 0; }
};

// Waits until the player has nothing current, nothing on its way and no output running.
bool waitUntilIdle(UniPlayer &player, int timeoutMs);

} // namespace playertest
