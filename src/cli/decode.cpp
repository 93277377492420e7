// lumenar-cli decode FILE [-o OUT] [--seek SECONDS]
//
// Writes the PCM that a file yields: for the PCM readers exactly the bytes read() returns,
// read in whole multiples of block_size as the output engine reads them; for MP3 and M4A
// the packets decoded by the packet decoder, as the output queue decodes them. Standard
// error gets one summary line: frames, seconds and speed as a multiple of real time.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/cli.h"
#include "engine/lm_coreaudio_file.h"
#include "engine/lm_file.h"
#include "platform/audio_file/packet_decoder.h"

namespace {

const char *kName = "decode";

// Bytes the decoder hands over per read, rounded to whole blocks.
constexpr uint32_t kChunkBytes = 1u << 18;

struct Output {
    FILE *fp = nullptr;
    const char *name = nullptr;
    bool failed = false;

    bool write(const void *data, size_t size)
    {
        if (size > 0 && fwrite(data, 1, size, fp) != size) {
            fprintf(stderr, "lumenar-cli decode: cannot write %s: %s\n", name, strerror(errno));
            failed = true;
        }
        return !failed;
    }
};

// Returns the bytes written, or -1 on a write error.
int64_t decodePcm(LMFile *file, Output &out)
{
    const uint32_t block = file->block_size;
    uint32_t size = block >= kChunkBytes ? block : kChunkBytes / block * block;
    std::vector<uint8_t> buffer(size);
    int64_t total = 0;
    for (;;) {
        int n = LMFileRead(file, buffer.data(), int(size));
        if (n <= 0)
            break;
        if (!out.write(buffer.data(), size_t(n)))
            return -1;
        total += n;
    }
    return total;
}

// Returns the bytes written, or -1 on an error (reported); *pcm receives the PCM format.
// The encoder's priming and padding are cut as the output engine has the queue cut them,
// so that `play` and `decode` give the same frames.
int64_t decodePackets(LMFile *file, Output &out, AudioStreamBasicDescription *pcm)
{
    const AudioStreamBasicDescription *format = LMCoreAudioFileFormat(file);
    uint32_t cookieSize = 0;
    void *cookie = LMCoreAudioFileCopyMagicCookie(file, &cookieSize);
    LMPacketDecoder *decoder = format != nullptr ? LMPacketDecoderNew(format, cookie, cookieSize, pcm) : nullptr;
    free(cookie);
    if (decoder == nullptr) {
        fprintf(stderr, "lumenar-cli decode: no decoder for the stream of %s\n", out.name);
        return -1;
    }
    const size_t frameBytes = pcm->mBytesPerFrame;
    // Room for many packets, as an output queue buffer has.
    uint32_t capacity = file->block_size * 16 > kChunkBytes ? file->block_size * 16 : kChunkBytes;
    std::vector<uint8_t> buffer(capacity);
    std::vector<uint8_t> decoded;
    int64_t total = 0;
    bool failed = false;
    for (;;) {
        AudioStreamPacketDescription *descriptions = nullptr;
        uint32_t count = 0, trimStart = 0, trimEnd = 0;
        int n = LMCoreAudioFileReadTrimmedPackets(file, buffer.data(), capacity, &descriptions, &count, &trimStart,
                                                  &trimEnd, nullptr);
        if (n <= 0) {
            free(descriptions);
            break;
        }
        decoded.clear();
        int made = LMPacketDecoderDecode(decoder, buffer.data(), uint32_t(n), descriptions, count, &decoded);
        free(descriptions);
        if (made < 0) {
            fprintf(stderr, "lumenar-cli decode: the decoder failed\n");
            failed = true;
            break;
        }
        const size_t whole = decoded.size() - decoded.size() % frameBytes;
        const size_t head = std::min(size_t(trimStart) * frameBytes, whole);
        const size_t tail = std::min(size_t(trimEnd) * frameBytes, whole - head);
        if (!out.write(decoded.data() + head, whole - head - tail)) {
            failed = true;
            break;
        }
        total += int64_t(whole - head - tail);
    }
    LMPacketDecoderFree(decoder);
    return failed ? -1 : total;
}

int run(int argc, char **argv)
{
    const char *path = nullptr;
    const char *outPath = nullptr;
    double seek = -1;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            outPath = argv[++i];
        } else if (strcmp(argv[i], "--seek") == 0 && i + 1 < argc) {
            char *end = nullptr;
            seek = strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seek >= 0))
                return cli::usageError(kName, "--seek needs a number of seconds, 0 or more");
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return cli::usageError(kName, "unknown option or missing value");
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return cli::usageError(kName, "only one FILE");
        }
    }
    if (path == nullptr)
        return cli::usageError(kName, "missing FILE");

    LMFile *file = LMFileOpen(path);
    if (file == nullptr) {
        fprintf(stderr, "lumenar-cli decode: cannot open %s: not a readable audio file\n", path);
        return 1;
    }
    if (file->block_size == 0) {
        fprintf(stderr, "lumenar-cli decode: %s has no block size\n", path);
        LMFileClose(file);
        return 1;
    }
    Output out;
    out.name = outPath != nullptr ? outPath : "standard output";
    out.fp = outPath != nullptr ? fopen(outPath, "wb") : stdout;
    if (out.fp == nullptr) {
        fprintf(stderr, "lumenar-cli decode: cannot create %s: %s\n", outPath, strerror(errno));
        LMFileClose(file);
        return 1;
    }
    if (seek >= 0)
        LMFileSeek(file, seek);

    const auto start = std::chrono::steady_clock::now();
    uint32_t channels = file->num_channels, bits = file->bits_per_sample, rate = file->sample_rate;
    int64_t bytes;
    if (file->type == LMFileTypeCoreAudio) {
        AudioStreamBasicDescription pcm{};
        bytes = decodePackets(file, out, &pcm);
        channels = pcm.mChannelsPerFrame;
        bits = pcm.mBitsPerChannel;
        rate = uint32_t(pcm.mSampleRate);
    } else {
        bytes = decodePcm(file, out);
    }
    if (bytes >= 0 && fflush(out.fp) != 0 && !out.failed) {
        fprintf(stderr, "lumenar-cli decode: cannot write %s: %s\n", out.name, strerror(errno));
        bytes = -1;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    LMFileClose(file);
    if (outPath != nullptr && fclose(out.fp) != 0 && bytes >= 0) {
        fprintf(stderr, "lumenar-cli decode: cannot write %s: %s\n", outPath, strerror(errno));
        bytes = -1;
    }
    if (bytes < 0)
        return 1;

    const uint32_t frameBytes = channels * ((bits + 7) / 8);
    const int64_t frames = frameBytes > 0 ? bytes / frameBytes : 0;
    const double seconds = rate > 0 ? double(frames) / rate : 0;
    const double speed = wall > 0 ? seconds / wall : 0;
    fprintf(stderr, "decoded %lld frames, %.3f s of audio in %.3f s, %.1fx real time\n", (long long)frames,
            seconds, wall, speed);
    return 0;
}

} // namespace

LUMENAR_CLI_COMMAND("decode", "FILE [-o OUT] [--seek SECONDS]", run);
