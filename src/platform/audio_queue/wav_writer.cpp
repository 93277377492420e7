#include "platform/audio_queue/wav_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lmaudio {

namespace {

constexpr uint32_t kHeaderSize = 44;
constexpr uint64_t kMaxData = 0xFFFFFFFFull - kHeaderSize;

// What every writer of one path shares: which file is current and how much it holds.
struct Entry {
    int index = 0;
    PcmFormat format;
    std::string path;
    uint64_t dataBytes = 0;
    bool fullLogged = false;
};

std::mutex gMutex;
std::map<std::string, Entry> gFiles;

void put16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

bool writeAll(int fd, const void *data, size_t size, off_t offset)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    while (size > 0) {
        ssize_t n = pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

// Sizes, and the pad byte that follows odd-sized data (overwritten by the next append).
bool writeHeader(int fd, const PcmFormat &f, uint64_t dataBytes)
{
    uint8_t h[kHeaderSize];
    const uint32_t pad = uint32_t(dataBytes & 1);
    memcpy(h, "RIFF", 4);
    put32(h + 4, uint32_t(36 + dataBytes + pad));
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, f.isFloat ? 3 : 1);
    put16(h + 22, f.channels);
    put32(h + 24, f.rate);
    put32(h + 28, f.rate * f.bytesPerFrame());
    put16(h + 32, f.bytesPerFrame());
    put16(h + 34, f.bytesPerSample * 8);
    memcpy(h + 36, "data", 4);
    put32(h + 40, uint32_t(dataBytes));
    if (!writeAll(fd, h, sizeof h, 0))
        return false;
    if (pad) {
        const uint8_t zero = 0;
        return writeAll(fd, &zero, 1, off_t(kHeaderSize + dataBytes));
    }
    return true;
}

// The format as it stands in the file: little-endian, 8-bit unsigned, wider signed.
PcmFormat fileFormat(const PcmFormat &f)
{
    PcmFormat w = f;
    w.bigEndian = false;
    w.isSigned = f.isFloat || f.bytesPerSample > 1;
    return w;
}

} // namespace

std::string WavPathForIndex(const std::string &path, int index)
{
    if (index <= 1)
        return path;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const std::string n = "." + std::to_string(index);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return path + n;
    return path.substr(0, dot) + n + path.substr(dot);
}

std::unique_ptr<WavWriter> WavWriter::open(const std::string &path, const PcmFormat &format)
{
    std::lock_guard<std::mutex> lock(gMutex);
    Entry &e = gFiles[path];
    const PcmFormat wf = fileFormat(format);
    std::unique_ptr<WavWriter> w(new WavWriter);
    w->key_ = path;
    w->format_ = format;

    bool fresh = e.index == 0 || !(e.format == wf);
    if (!fresh) {
        // Same format: append, unless the file was changed behind our back.
        w->fd_ = ::open(e.path.c_str(), O_RDWR | O_CLOEXEC);
        struct stat st;
        if (w->fd_ < 0 || fstat(w->fd_, &st) != 0 || uint64_t(st.st_size) < kHeaderSize + e.dataBytes) {
            if (w->fd_ >= 0)
                ::close(w->fd_);
            w->fd_ = -1;
            e.index--;
            fresh = true;
        }
    }
    if (fresh) {
        e.index++;
        e.format = wf;
        e.path = WavPathForIndex(path, e.index);
        e.dataBytes = 0;
        e.fullLogged = false;
        w->fd_ = ::open(e.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (w->fd_ < 0 || !writeHeader(w->fd_, wf, 0)) {
            fprintf(stderr, "audio: cannot write %s: %s\n", e.path.c_str(), strerror(errno));
            if (w->fd_ >= 0)
                ::close(w->fd_);
            e.index--;
            return nullptr;
        }
    }
    w->path_ = e.path;
    return w;
}

WavWriter::~WavWriter()
{
    if (fd_ < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gFiles.find(key_);
        if (it != gFiles.end() && it->second.path == path_)
            writeHeader(fd_, it->second.format, it->second.dataBytes);
    }
    ::close(fd_);
}

bool WavWriter::write(uint8_t *data, size_t size)
{
    if (fd_ < 0)
        return false;
    NormalizePcm(data, size, format_, true);
    std::lock_guard<std::mutex> lock(gMutex);
    Entry &e = gFiles[key_];
    if (e.path != path_)
        return false;   // a queue of another format took the path over
    if (e.dataBytes + size > kMaxData) {
        if (!e.fullLogged)
            fprintf(stderr, "audio: %s is full (4 GiB); further output is dropped\n", path_.c_str());
        e.fullLogged = true;
        return false;
    }
    if (!writeAll(fd_, data, size, off_t(kHeaderSize + e.dataBytes)))
        return false;
    e.dataBytes += size;
    return writeHeader(fd_, e.format, e.dataBytes);
}

} // namespace lmaudio
