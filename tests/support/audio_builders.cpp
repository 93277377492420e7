#include "support/audio_builders.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include <unistd.h>

#include "support/test_support.h"

namespace lmtest {

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes le(uint64_t value, int bytes)
{
    Bytes out;
    for (int i = 0; i < bytes; i++)
        out.push_back(uint8_t(value >> (8 * i)));
    return out;
}

Bytes be(uint64_t value, int bytes)
{
    Bytes out = le(value, bytes);
    std::reverse(out.begin(), out.end());
    return out;
}

Bytes riffFile(const std::string &form, const std::string &type, const std::vector<Chunk> &chunks)
{
    auto size = form == "FORM" ? be : le;
    Bytes body = bytesOf(type);
    for (const Chunk &c : chunks) {
        body = body + bytesOf(c.id) + size(c.size >= 0 ? uint64_t(c.size) : c.data.size(), 4) + c.data;
        if (c.data.size() % 2)
            body.push_back(0);
    }
    return bytesOf(form) + size(body.size(), 4) + body;
}

Bytes wavFmt(uint16_t format, uint16_t channels, uint32_t rate, uint16_t blockAlign, uint16_t bits)
{
    return le(format, 2) + le(channels, 2) + le(rate, 4) + le(uint64_t(rate) * blockAlign, 4) +
           le(blockAlign, 2) + le(bits, 2);
}

Bytes wavFile(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &pcm,
              const std::vector<Chunk> &after)
{
    std::vector<Chunk> chunks = {{"fmt ", wavFmt(1, channels, rate, uint16_t(channels * bits / 8), bits)},
                                 {"data", pcm}};
    chunks.insert(chunks.end(), after.begin(), after.end());
    return riffFile("RIFF", "WAVE", chunks);
}

Bytes extended80(double value)
{
    const uint64_t sign = std::signbit(value) ? 0x8000 : 0;
    if (value == 0)
        return Bytes(10, 0);
    if (!std::isfinite(value))
        return be(sign | 0x7FFF, 2) + be(std::isnan(value) ? 0xC000000000000000ull : 1ull << 63, 8);
    int exponent = 0;
    const double m = std::frexp(std::fabs(value), &exponent);   // m in [0.5, 1)
    return be(sign | uint64_t(16383 + exponent - 1), 2) + be(uint64_t(std::ldexp(m, 64)), 8);
}

Bytes aiffComm(uint16_t channels, uint32_t frames, uint16_t bits, double rate, const std::string &compression)
{
    Bytes d = be(channels, 2) + be(frames, 4) + be(bits, 2) + extended80(rate);
    return compression.empty() ? d : d + bytesOf(compression) + Bytes{0, 0};   // empty name
}

Bytes aiffSsnd(const Bytes &samples, uint32_t offset)
{
    return be(offset, 4) + be(0, 4) + Bytes(offset, 0xAA) + samples;
}

Bytes toneBigEndian(uint32_t rate, uint32_t channels, uint32_t bits, double seconds)
{
    Bytes pcm = tonePcm(rate, channels, bits, seconds);
    const size_t width = bits / 8;
    for (size_t i = 0; i + width <= pcm.size(); i += width) {
        if (width == 1)
            pcm[i] ^= 0x80;   // WAV's unsigned 8-bit to AIFF's signed
        std::reverse(pcm.begin() + long(i), pcm.begin() + long(i + width));
    }
    return pcm;
}

Bytes synchsafe(uint32_t value)
{
    return {uint8_t((value >> 21) & 0x7F), uint8_t((value >> 14) & 0x7F),
            uint8_t((value >> 7) & 0x7F), uint8_t(value & 0x7F)};
}

Bytes id3Frame(int version, const std::string &id, const Bytes &data, uint16_t flags, bool plainSize)
{
    const uint32_t n = uint32_t(data.size());
    if (version == 2)
        return bytesOf(id) + be(n, 3) + data;
    return bytesOf(id) + (version == 4 && !plainSize ? synchsafe(n) : be(n, 4)) + be(flags, 2) + data;
}

Bytes id3Tag(int version, const Bytes &frames, uint8_t flags, size_t padding)
{
    return bytesOf("ID3") + Bytes{uint8_t(version), 0, flags} +
           synchsafe(uint32_t(frames.size() + padding)) + frames + Bytes(padding, 0);
}

Bytes unsynchronise(const Bytes &data)
{
    Bytes out;
    for (size_t i = 0; i < data.size(); i++) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && (i + 1 == data.size() || data[i + 1] == 0 || data[i + 1] >= 0xE0))
            out.push_back(0);
    }
    return out;
}

StderrCapture::StderrCapture()
{
    fflush(stderr);
    file_ = tmpfile();
    saved_ = dup(2);
    if (file_ != nullptr)
        dup2(fileno(file_), 2);
}

std::string StderrCapture::stop()
{
    if (saved_ < 0)
        return "";
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::string text;
    if (file_ != nullptr) {
        rewind(file_);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, file_)) > 0;)
            text.append(buf, n);
        fclose(file_);
    }
    return text;
}

std::vector<std::string> failedChecks(const std::string &text)
{
    static const std::string prefix = "*FAILED* check: ";
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.rfind(prefix, 0) == 0 ? line.find(':', prefix.size()) : std::string::npos;
        size_t end = colon + 1;
        while (colon != std::string::npos && end < line.size() && isdigit((unsigned char)line[end]))
            end++;
        if (colon != std::string::npos && end > colon + 1 && line.compare(end, 2, ": ") == 0)
            lines.push_back(line.substr(0, colon) + ":N" + line.substr(end));
    }
    return lines;
}

Opened openCapturing(const std::string &path, LMFile *(*open)(const char *))
{
    Opened result;
    StderrCapture capture;
    result.file.reset(open(path.c_str()));
    result.checks = failedChecks(capture.stop());
    return result;
}

Opened openBytes(const std::string &path, const Bytes &bytes, LMFile *(*open)(const char *))
{
    writeFile(path, bytes);
    return openCapturing(path, open);
}

Bytes readAll(LMFile *file, int chunk)
{
    Bytes out, buf(static_cast<size_t>(chunk));
    // Bounded, so that a reader that never reaches its end fails the test instead of hanging it.
    for (int guard = 0, n; guard < 1000000 && (n = LMFileRead(file, buf.data(), chunk)) > 0; guard++)
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    return out;
}

} // namespace lmtest
