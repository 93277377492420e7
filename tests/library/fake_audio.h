// A stand-in for the audio file readers: files named in it open with the given format and
// tag; every other path is refused. Lets the library be tested apart from the readers.
#pragma once

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/lm_file.h"
#include "library/playable_item.h"

namespace fakeaudio {

struct Spec {
    std::optional<std::string> title, artist, album, genre, cuesheet;
    std::vector<unsigned char> picture;
    int year = 0;
    int track = 0;
    double duration = 10.0;
    uint32_t sampleRate = 44100;
    uint32_t bits = 16;
};

struct Registry {
    std::mutex lock;
    std::map<std::string, Spec> files;
    std::map<std::string, int> opens;
    int delayMs = 0;
};

inline Registry &registry()
{
    static Registry r;
    return r;
}

inline char *copy(const std::optional<std::string> &s)
{
    return s ? strdup(s->c_str()) : nullptr;
}

inline void closeFake(LMFile *file)
{
    free(file);
}

inline LMFile *openFake(const char *path)
{
    Registry &r = registry();
    Spec spec;
    int delay;
    {
        std::lock_guard<std::mutex> g(r.lock);
        r.opens[path]++;
        auto it = r.files.find(path);
        if (it == r.files.end())
            return nullptr;
        spec = it->second;
        delay = r.delayMs;
    }
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    LMFile *f = LMFileAllocate(sizeof(LMFile), LMFileTypeWav, nullptr, nullptr, nullptr, closeFake);
    f->num_channels = 2;
    f->sample_rate = spec.sampleRate;
    f->bits_per_sample = spec.bits;
    f->duration = spec.duration;
    f->tag.title = copy(spec.title);
    f->tag.artist = copy(spec.artist);
    f->tag.album = copy(spec.album);
    f->tag.genre = copy(spec.genre);
    f->tag.cuesheet = copy(spec.cuesheet);
    f->tag.year = spec.year;
    f->tag.track = spec.track;
    if (!spec.picture.empty()) {
        f->tag.picture = static_cast<unsigned char *>(malloc(spec.picture.size()));
        memcpy(f->tag.picture, spec.picture.data(), spec.picture.size());
        f->tag.picture_size = int32_t(spec.picture.size());
    }
    return f;
}

// Installs the stand-in for its lifetime, with an empty registry.
class Scope {
public:
    Scope()
    {
        reset();
        previous_ = PlayableItem::setFileOpener(openFake);
    }
    ~Scope()
    {
        PlayableItem::setFileOpener(previous_);
        reset();
    }
    // Registers the path and creates a small file there, so the folder walk finds it.
    void add(const std::string &path, const Spec &spec = Spec())
    {
        FILE *f = fopen(path.c_str(), "wb");
        if (f != nullptr) {
            fputs("audio", f);
            fclose(f);
        }
        std::lock_guard<std::mutex> g(registry().lock);
        registry().files[path] = spec;
    }
    int opens(const std::string &path)
    {
        std::lock_guard<std::mutex> g(registry().lock);
        return registry().opens[path];
    }
    int totalOpens()
    {
        std::lock_guard<std::mutex> g(registry().lock);
        int n = 0;
        for (auto &kv : registry().opens)
            n += kv.second;
        return n;
    }
    void setDelay(int ms)
    {
        std::lock_guard<std::mutex> g(registry().lock);
        registry().delayMs = ms;
    }

private:
    static void reset()
    {
        std::lock_guard<std::mutex> g(registry().lock);
        registry().files.clear();
        registry().opens.clear();
        registry().delayMs = 0;
    }
    PlayableItem::FileOpener previous_;
};

} // namespace fakeaudio
