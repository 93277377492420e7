#include "support/codec_support.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <QCryptographicHash>

#include "support/test_support.h"

namespace lmtest {

namespace {

// Zeroes the 36-bit total-samples field of the STREAMINFO block at the file's start.
bool forgetLength(const std::string &path)
{
    std::vector<uint8_t> bytes = readFile(path);
    if (bytes.size() < 26 || memcmp(bytes.data(), "fLaC", 4) != 0)
        return false;
    uint8_t *info = bytes.data() + 8;
    info[13] &= 0xF0;
    memset(info + 14, 0, 4);
    writeFile(path, bytes);
    return true;
}

uint8_t crc8(const uint8_t *p, size_t n)
{
    uint8_t c = 0;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++)
            c = uint8_t(c & 0x80 ? (c << 1) ^ 0x07 : c << 1);
    }
    return c;
}

uint16_t crc16(const uint8_t *p, size_t n)
{
    uint16_t c = 0;
    for (size_t i = 0; i < n; i++) {
        c ^= uint16_t(p[i] << 8);
        for (int k = 0; k < 8; k++)
            c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x8005 : c << 1);
    }
    return c;
}

std::vector<uint8_t> utf8Number(uint32_t v)
{
    if (v < 0x80)
        return {uint8_t(v)};
    if (v < 0x800)
        return {uint8_t(0xC0 | (v >> 6)), uint8_t(0x80 | (v & 0x3F))};
    return {uint8_t(0xE0 | (v >> 12)), uint8_t(0x80 | ((v >> 6) & 0x3F)), uint8_t(0x80 | (v & 0x3F))};
}

} // namespace

bool renumberLastFlacFrame(const std::string &path, uint32_t number)
{
    std::vector<uint8_t> d = readFile(path);
    // The last frame is short: its block size follows the header as 16 bits (code 7).
    for (size_t i = d.size() - 16; i > 4; i--) {
        if (d[i] != 0xFF || d[i + 1] != 0xF8 || (d[i + 2] >> 4) != 7)
            continue;
        const size_t numberLength = d[i + 4] < 0x80 ? 1 : d[i + 4] < 0xE0 ? 2 : 3;
        const size_t header = 4 + numberLength + 2;
        if (crc8(&d[i], header) != d[i + header])
            continue;
        std::vector<uint8_t> frame(d.begin() + std::ptrdiff_t(i), d.begin() + std::ptrdiff_t(i + 4));
        const std::vector<uint8_t> n = utf8Number(number);
        frame.insert(frame.end(), n.begin(), n.end());
        frame.insert(frame.end(), d.begin() + std::ptrdiff_t(i + 4 + numberLength), d.begin() + std::ptrdiff_t(i + header));
        frame.push_back(crc8(frame.data(), frame.size()));
        frame.insert(frame.end(), d.begin() + std::ptrdiff_t(i + header + 1), d.end() - 2);
        const uint16_t c = crc16(frame.data(), frame.size());
        frame.push_back(uint8_t(c >> 8));
        frame.push_back(uint8_t(c));
        d.resize(i);
        d.insert(d.end(), frame.begin(), frame.end());
        writeFile(path, d);
        return true;
    }
    return false;
}

std::vector<uint8_t> writeFlac(const std::string &path, const FlacSpec &spec)
{
    std::vector<uint8_t> pcm = tonePcm(spec.rate, spec.channels, spec.bits, spec.seconds, 441.0);
    const uint32_t bytes = spec.bits / 8;
    std::vector<FLAC__int32> samples(pcm.size() / bytes);
    for (size_t i = 0; i < samples.size(); i++) {
        uint32_t v = 0;
        for (uint32_t b = 0; b < bytes; b++)
            v |= uint32_t(pcm[i * bytes + b]) << (8 * b);
        if (spec.bits == 8)
            samples[i] = int32_t(v) - 128;
        else
            samples[i] = int32_t(v << (32 - spec.bits)) >> (32 - spec.bits);
    }

    std::vector<FLAC__StreamMetadata *> blocks;
    if (!spec.comments.empty()) {
        FLAC__StreamMetadata *vc = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        for (const std::string &c : spec.comments) {
            FLAC__StreamMetadata_VorbisComment_Entry e;
            e.length = uint32_t(c.size());
            e.entry = (FLAC__byte *)c.data();
            FLAC__metadata_object_vorbiscomment_append_comment(vc, e, true);
        }
        blocks.push_back(vc);
    }
    for (const auto &picture : spec.pictures) {
        FLAC__StreamMetadata *p = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
        p->data.picture.type = FLAC__StreamMetadata_Picture_Type(picture.first);
        FLAC__metadata_object_picture_set_mime_type(p, (char *)"image/png", true);
        FLAC__metadata_object_picture_set_data(p, (FLAC__byte *)picture.second.data(), uint32_t(picture.second.size()), true);
        blocks.push_back(p);
    }
    if (spec.nativeCuesheet) {
        FLAC__StreamMetadata *cs = FLAC__metadata_object_new(FLAC__METADATA_TYPE_CUESHEET);
        cs->data.cue_sheet.is_cd = false;
        FLAC__metadata_object_cuesheet_insert_blank_track(cs, 0);
        cs->data.cue_sheet.tracks[0].number = 170;   // lead-out
        cs->data.cue_sheet.tracks[0].offset = uint64_t(spec.seconds * spec.rate);
        blocks.push_back(cs);
    }

    FLAC__StreamEncoder *enc = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(enc, spec.channels);
    FLAC__stream_encoder_set_bits_per_sample(enc, spec.bits);
    FLAC__stream_encoder_set_sample_rate(enc, spec.rate);
    FLAC__stream_encoder_set_compression_level(enc, 5);   // before the block size, which it resets
    FLAC__stream_encoder_set_blocksize(enc, spec.blockSize);
    if (!blocks.empty())
        FLAC__stream_encoder_set_metadata(enc, blocks.data(), uint32_t(blocks.size()));
    bool ok = FLAC__stream_encoder_init_file(enc, path.c_str(), nullptr, nullptr) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    const uint32_t frames = uint32_t(samples.size() / spec.channels);
    ok = ok && FLAC__stream_encoder_process_interleaved(enc, samples.data(), frames);
    ok = FLAC__stream_encoder_finish(enc) && ok;
    FLAC__stream_encoder_delete(enc);
    for (FLAC__StreamMetadata *b : blocks)
        FLAC__metadata_object_delete(b);
    if (ok && spec.unknownLength)
        ok = forgetLength(path);
    return ok ? pcm : std::vector<uint8_t>();
}

bool ffmpeg(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv).status == 0;
}

bool ffmpegTone(const std::string &path, const std::vector<std::string> &codecArgs, double seconds)
{
    std::vector<std::string> args = {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + std::to_string(seconds),
                                     "-ac", "2"};
    args.insert(args.end(), codecArgs.begin(), codecArgs.end());
    args.push_back(path);
    return ffmpeg(args);
}

std::vector<uint8_t> ffmpegPcm(const std::string &path, const std::string &format)
{
    RunResult r = run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a", "-f", format, "-"});
    if (r.status != 0)
        return {};
    return std::vector<uint8_t>(r.out.begin(), r.out.end());
}

int64_t ffprobePacketCount(const std::string &path)
{
    RunResult r = run({"ffprobe", "-v", "error", "-count_packets", "-select_streams", "a:0", "-show_entries",
                       "stream=nb_read_packets", "-of", "csv=p=0", path});
    if (r.status != 0 || r.out.empty() || !isdigit((unsigned char)r.out[0]))
        return -1;
    return std::stoll(r.out);
}

std::string md5Hex(const std::vector<uint8_t> &bytes)
{
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toStdString();
}

bool isCheckLine(const std::string &text, const std::string &source, const std::string &condition)
{
    const std::string head = "*FAILED* check: " + source + ":";
    if (text.compare(0, head.size(), head) != 0)
        return false;
    size_t i = head.size(), digits = 0;
    while (i < text.size() && isdigit((unsigned char)text[i]))
        i++, digits++;
    return digits > 0 && text.compare(i, std::string::npos, ": " + condition + "\n") == 0;
}

std::string captureStderr(const std::function<void()> &fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

} // namespace lmtest
