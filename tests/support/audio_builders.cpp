#include "support/audio_builders.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include <unistd.h>

#include "support/test_support.h"

namespace lmtest {

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

void append(Bytes &out, const Bytes &more)
{
    out.insert(out.end(), more.begin(), more.end());
}

Bytes operator+(Bytes a, const Bytes &b)
{
    append(a, b);
    return a;
}

void putLE(Bytes &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out.push_back(uint8_t(value >> (8 * i)));
}

void putBE(Bytes &out, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--)
        out.push_back(uint8_t(value >> (8 * i)));
}

Bytes riffFile(const std::string &form, const std::string &type, const std::vector<Chunk> &chunks)
{
    const bool big = form == "FORM";
    Bytes body = bytesOf(type);
    for (const Chunk &c : chunks) {
        append(body, bytesOf(c.id));
        const uint64_t size = c.size >= 0 ? uint64_t(c.size) : c.data.size();
        big ? putBE(body, size, 4) : putLE(body, size, 4);
        append(body, c.data);
        if (c.pad && c.data.size() % 2)
            body.push_back(0);
    }
    Bytes out = bytesOf(form);
    big ? putBE(out, body.size(), 4) : putLE(out, body.size(), 4);
    append(out, body);
    return out;
}

Bytes wavFmt(uint16_t format, uint16_t channels, uint32_t rate, uint16_t blockAlign,
             uint16_t bits, size_t extra)
{
    Bytes d;
    putLE(d, format, 2);
    putLE(d, channels, 2);
    putLE(d, rate, 4);
    putLE(d, uint64_t(rate) * blockAlign, 4);
    putLE(d, blockAlign, 2);
    putLE(d, bits, 2);
    d.resize(d.size() + extra, 0);
    return d;
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
    Bytes out;
    if (value == 0) {
        out.resize(10, 0);
        return out;
    }
    uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    if (std::isinf(value) || std::isnan(value)) {
        putBE(out, sign | 0x7FFF, 2);
        putBE(out, std::isnan(value) ? 0xC000000000000000ull : 0x8000000000000000ull, 8);
        return out;
    }
    int exponent = 0;
    double m = std::frexp(std::fabs(value), &exponent);   // value = m * 2^exponent, m in [0.5, 1)
    putBE(out, sign | uint16_t(16383 + exponent - 1), 2);
    putBE(out, uint64_t(std::ldexp(m, 64)), 8);
    return out;
}

Bytes aiffComm(uint16_t channels, uint32_t frames, uint16_t bits, double rate,
               const std::string &compression)
{
    Bytes d;
    putBE(d, channels, 2);
    putBE(d, frames, 4);
    putBE(d, bits, 2);
    append(d, extended80(rate));
    if (!compression.empty()) {
        append(d, bytesOf(compression));
        d.push_back(0);   // empty compression name (a Pascal string)
        d.push_back(0);
    }
    return d;
}

Bytes aiffSsnd(const Bytes &samples, uint32_t offset)
{
    Bytes d;
    putBE(d, offset, 4);
    putBE(d, 0, 4);
    d.resize(d.size() + offset, 0xAA);
    append(d, samples);
    return d;
}

Bytes toneBigEndian(uint32_t rate, uint32_t channels, uint32_t bits, double seconds)
{
    Bytes le = tonePcm(rate, channels, bits, seconds);
    const size_t width = bits / 8;
    if (width == 1) {
        for (uint8_t &b : le)
            b ^= 0x80;   // unsigned (WAV) to signed (AIFF)
        return le;
    }
    for (size_t i = 0; i + width <= le.size(); i += width)
        std::reverse(le.begin() + long(i), le.begin() + long(i + width));
    return le;
}

Bytes synchsafe(uint32_t value)
{
    return {uint8_t((value >> 21) & 0x7F), uint8_t((value >> 14) & 0x7F),
            uint8_t((value >> 7) & 0x7F), uint8_t(value & 0x7F)};
}

Bytes id3Frame(int version, const std::string &id, const Bytes &data, uint16_t flags, bool plainSize)
{
    Bytes out = bytesOf(id);
    if (version == 2) {
        putBE(out, data.size(), 3);
    } else {
        if (version == 4 && !plainSize)
            append(out, synchsafe(uint32_t(data.size())));
        else
            putBE(out, data.size(), 4);
        putBE(out, flags, 2);
    }
    append(out, data);
    return out;
}

Bytes id3Text(uint8_t encoding, const Bytes &text)
{
    Bytes out{encoding};
    append(out, text);
    return out;
}

Bytes id3Tag(int version, const Bytes &frames, uint8_t flags, size_t padding)
{
    Bytes out = bytesOf("ID3");
    out.push_back(uint8_t(version));
    out.push_back(0);
    out.push_back(flags);
    append(out, synchsafe(uint32_t(frames.size() + padding)));
    append(out, frames);
    out.resize(out.size() + padding, 0);
    return out;
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

StderrCapture::~StderrCapture()
{
    stop();
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
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file_)) > 0)
            text.append(buf, n);
        fclose(file_);
        file_ = nullptr;
    }
    return text;
}

std::vector<std::string> failedChecks(const std::string &text)
{
    static const std::string prefix = "*FAILED* check: ";
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        // FILE:LINE: text -- the line number is the one part that moves with edits.
        const size_t fileEnd = line.find(':', prefix.size());
        if (fileEnd == std::string::npos)
            continue;
        size_t digits = fileEnd + 1;
        while (digits < line.size() && isdigit((unsigned char)line[digits]))
            digits++;
        if (digits == fileEnd + 1 || line.compare(digits, 2, ": ") != 0)
            continue;
        lines.push_back(line.substr(0, fileEnd) + ":N" + line.substr(digits));
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
    Bytes out;
    std::vector<uint8_t> buf(static_cast<size_t>(chunk));
    int n;
    while ((n = LMFileRead(file, buf.data(), chunk)) > 0)
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    return out;
}

} // namespace lmtest
