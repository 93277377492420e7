#include "engine/lm_player.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/lm_coreaudio_file.h"
#include "platform/audio_queue/audio_queue.h"

static const int LMPlayerBufferCount = 3;
static const uint64_t LMPlayerMinBufferSize = 65536;
static const uint64_t LMPlayerLargeRate = 262144;   // bytes per second from which buffers hold 1/4 s
static const uint64_t LMPlayerMaxBufferSize = 16 * 1024 * 1024;   // beyond this a block size is not believed

static void LMPlayerSend(LMPlayer *player, LMPlayerEvent event)
{
    if (player->callback != nullptr)
        player->callback(player->user, event);
}

static uint32_t LMPlayerBlockSize(const LMFile *file)
{
    return file->block_size > 0 ? file->block_size : 1;
}

// 8-bit PCM is unsigned in WAV and Monkey's Audio files, signed everywhere else.
static bool LMPlayerSamplesUnsigned(const LMFile *file)
{
    return file->bits_per_sample == 8 && (file->type == LMFileTypeWav || file->type == LMFileTypeApe);
}

bool LMPlayerFilesJoin(const LMFile *current, const LMFile *next)
{
    if (current == nullptr || next == nullptr)
        return false;
    // Compressed files continue one another in the queue's own format: one stream to the
    // decoder, with the encoders' priming and padding trimmed at the joins.
    if (current->type == LMFileTypeCoreAudio || next->type == LMFileTypeCoreAudio)
        return LMCoreAudioFilesJoin(current, next);
    return current->bits_per_sample != 0 && next->bits_per_sample != 0 &&
           current->big_endian == next->big_endian && current->bits_per_sample == next->bits_per_sample &&
           current->num_channels == next->num_channels && current->sample_rate == next->sample_rate &&
           LMPlayerSamplesUnsigned(current) == LMPlayerSamplesUnsigned(next);
}

static void LMPlayerPcmFormat(const LMFile *file, AudioStreamBasicDescription *format)
{
    memset(format, 0, sizeof *format);
    const uint32_t bytesPerFrame = file->num_channels * (file->bits_per_sample / 8);
    format->mSampleRate = file->sample_rate;
    format->mFormatID = kAudioFormatLinearPCM;
    uint32_t flags = 0;
    if (!LMPlayerSamplesUnsigned(file))
        flags |= kAudioFormatFlagIsSignedInteger;
    if (file->big_endian)
        flags |= kAudioFormatFlagIsBigEndian;
    format->mFormatFlags = flags;
    format->mBytesPerPacket = bytesPerFrame;
    format->mFramesPerPacket = 1;
    format->mBytesPerFrame = bytesPerFrame;
    format->mChannelsPerFrame = file->num_channels;
    format->mBitsPerChannel = file->bits_per_sample;
}

static double LMPlayerBytesPerSecond(const LMFile *file)
{
    return double(file->sample_rate) * file->num_channels * (file->bits_per_sample / 8);
}

// The rate of the queue's timeline: the format the queue was built with.
static double LMPlayerQueueRate(LMFile *file)
{
    if (file->type == LMFileTypeCoreAudio) {
        const AudioStreamBasicDescription *format = LMCoreAudioFileFormat(file);
        return format != nullptr ? format->mSampleRate : 0;
    }
    return file->sample_rate;
}

uint32_t LMPlayerBufferSizeForFile(const LMFile *file)
{
    const uint64_t twoBlocks = 2 * uint64_t(file->block_size);
    uint64_t size;
    if (file->type == LMFileTypeCoreAudio) {
        size = twoBlocks > LMPlayerMinBufferSize ? twoBlocks : LMPlayerMinBufferSize;
    } else {
        const uint64_t second = uint64_t(file->sample_rate) * file->num_channels * (file->bits_per_sample / 8);
        size = second >= LMPlayerLargeRate ? second / 4 : LMPlayerMinBufferSize;
        if (twoBlocks >= size)
            size = twoBlocks;
    }
    return size <= LMPlayerMaxBufferSize ? uint32_t(size) : 0;
}

// The queue's output callback, also used to prime fresh buffers.
static void LMPlayerRefill(void *user, AudioQueueRef queue, AudioQueueBufferRef buffer)
{
    LMPlayer *player = static_cast<LMPlayer *>(user);
    LMFile *file = player->file;
    if (file == nullptr || queue != player->queue)
        return;
    uint8_t *data = static_cast<uint8_t *>(buffer->mAudioData);
    const uint32_t capacity = buffer->mAudioDataBytesCapacity;
    const uint32_t request = capacity - capacity % LMPlayerBlockSize(file);

    const bool packetized = file->type == LMFileTypeCoreAudio;
    AudioStreamPacketDescription *packets = nullptr;
    uint32_t packetCount = 0, trimStart = 0, trimEnd = 0, kept = 0, flags = 0;
    int got;
    if (packetized)
        got = LMCoreAudioFileReadTrimmedPackets(file, data, request, &packets, &packetCount, &trimStart, &trimEnd,
                                                &kept);
    else
        got = LMFileRead(file, data, int(request));
    uint32_t n = got > 0 ? uint32_t(got) : 0;
    if (n > request)
        n = request;

    // A short read is the end of the file only when the file says so: some readers deliver
    // less than asked before their end (FLAC decodes whole frames while a block still fits).
    // Packets of the next file start a buffer of their own, since its trims (the priming
    // of the next) apply to a buffer's ends only.
    const bool exhausted = got <= 0 || (!packetized && LMFileTell(file) >= file->duration);
    if (n < request && exhausted && file->next != nullptr && LMPlayerFilesJoin(file, file->next)) {
        LMFile *next = file->next;
        file->next = nullptr;
        // The next file is heard from where this buffer's share of the old one ends.
        const double bytesPerSecond = LMPlayerBytesPerSecond(file);
        player->queue_start = player->queued + (bytesPerSecond > 0 ? n / bytesPerSecond : 0);
        player->file_start = LMFileTell(next);
        LMFileClose(file);
        player->file = file = next;
        // The position of the new file counts from its own start.
        player->last_position = 0;
        if (packetized) {
            got = LMCoreAudioFileReadTrimmedPackets(next, data, request, &packets, &packetCount, &trimStart,
                                                    &trimEnd, &kept);
            n = got > 0 ? uint32_t(got) : 0;
            flags = kAudioQueueBufferFlag_NewStream;
        } else {
            const uint32_t room = capacity - n;
            const uint32_t want = room - room % LMPlayerBlockSize(next);
            if (want > 0) {
                const int more = LMFileRead(next, data + n, int(want));
                if (more > 0)
                    n += uint32_t(more) < want ? uint32_t(more) : want;
            }
        }
        LMPlayerSend(player, LMPlayerEventFileChanged);
        if (queue != player->queue) {   // the handler replaced the output
            free(packets);
            return;
        }
    }

    if (n < 1) {
        free(packets);
        // Buffers coming back after the end has been reported only drain the queue.
        if (player->stopping)
            return;
        player->stopping = 1;
        AudioQueueFlush(queue);
        AudioQueueStop(queue, false);
        player->state = LMPlayerStateEnded;
        LMPlayerSend(player, LMPlayerEventEnded);
        return;
    }

    buffer->mAudioDataByteSize = n;
    const OSStatus err = AudioQueueEnqueueBufferWithParameters(queue, buffer, packets != nullptr ? packetCount : 0,
                                                               packets, trimStart, trimEnd, flags);
    free(packets);
    if (!LM_CHECK(err == noErr))
        return;
    // Seconds given to the queue, so that a joined file knows when it begins to be heard.
    if (packetized) {
        const double rate = LMPlayerQueueRate(file);
        if (rate > 0)
            player->queued += kept / rate;
    } else if (LMPlayerBytesPerSecond(file) > 0) {
        player->queued += n / LMPlayerBytesPerSecond(file);
    }

    const double position = LMFileTell(file);
    if (fabs(position - player->last_position) >= 1.0) {
        player->last_position = position;
        LMPlayerSend(player, LMPlayerEventPosition);
    }
}

static void LMPlayerRunningChanged(void *user, AudioQueueRef queue, AudioQueuePropertyID)
{
    LMPlayer *player = static_cast<LMPlayer *>(user);
    if (queue != player->queue)
        return;
    uint32_t running = 0;
    uint32_t size = sizeof running;
    if (AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &running, &size) == noErr && running) {
        player->state = LMPlayerStatePlaying;
        LMPlayerSend(player, LMPlayerEventPlaying);
    } else {
        player->state = LMPlayerStatePaused;
        LMPlayerSend(player, LMPlayerEventPaused);
    }
}

static bool LMPlayerQueueRunning(AudioQueueRef queue)
{
    uint32_t running = 0;
    uint32_t size = sizeof running;
    return AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &running, &size) == noErr && running;
}

// Builds and starts a new queue from the current file's position. `announce`: send
// event 3 once it runs (a seek while playing goes on playing without one).
static void LMPlayerStartOutput(LMPlayer *player, bool announce = true)
{
    if (player->queue != nullptr) {
        AudioQueueDispose(player->queue, true);
        player->queue = nullptr;
    }
    player->stopping = 0;
    player->file_start = LMFileTell(player->file);
    player->queue_start = 0;
    player->queued = 0;

    bool started = false;
    LMFile *file = player->file;
    if (file != nullptr) {
        AudioStreamBasicDescription format;
        bool haveFormat = true;
        void *cookie = nullptr;
        uint32_t cookieSize = 0;
        if (file->type == LMFileTypeCoreAudio) {
            const AudioStreamBasicDescription *own = LMCoreAudioFileFormat(file);
            haveFormat = own != nullptr;
            if (haveFormat)
                format = *own;
            cookie = LMCoreAudioFileCopyMagicCookie(file, &cookieSize);
        } else {
            LMPlayerPcmFormat(file, &format);
        }
        const uint32_t bufferSize = LMPlayerBufferSizeForFile(file);
        AudioQueueRef queue = nullptr;
        if (haveFormat && bufferSize > 0 &&
            AudioQueueNewOutput(&format, LMPlayerRefill, player, nullptr, 0, &queue) == noErr) {
            player->queue = queue;
            if (cookie != nullptr && cookieSize > 0)
                AudioQueueSetProperty(queue, kAudioQueueProperty_MagicCookie, cookie, cookieSize);
            int allocated = 0;
            for (; allocated < LMPlayerBufferCount; allocated++) {
                AudioQueueBufferRef buffer = nullptr;
                if (AudioQueueAllocateBuffer(queue, bufferSize, &buffer) != noErr)
                    break;
                LMPlayerRefill(player, queue, buffer);
                if (player->queue != queue) {   // an event handler started other output
                    free(cookie);
                    return;
                }
            }
            AudioQueueAddPropertyListener(queue, kAudioQueueProperty_IsRunning, LMPlayerRunningChanged, player);
            // Without a single buffer the queue would run silent for ever.
            started = allocated > 0 && AudioQueueStart(queue, nullptr) == noErr;
        }
        free(cookie);
    }
    if (started) {
        player->state = LMPlayerStatePlaying;
        if (announce)
            LMPlayerSend(player, LMPlayerEventPlaying);
    } else {
        player->state = LMPlayerStateError;
        LMPlayerSend(player, LMPlayerEventError);
    }
}

LMPlayer *LMPlayerCreate(void)
{
    return static_cast<LMPlayer *>(calloc(1, sizeof(LMPlayer)));
}

void LMPlayerSetEventHandler(LMPlayer *player, LMPlayerEventProc callback, void *user)
{
    if (player == nullptr)
        return;
    player->callback = callback;
    player->user = user;
}

static void LMPlayerCloseChain(LMPlayer *player, const LMFile *keep)
{
    LMFile *file = player->file;
    player->file = nullptr;
    while (file != nullptr) {
        LMFile *next = file->next;
        file->next = nullptr;
        if (file != keep)
            LMFileClose(file);
        file = next;
    }
}

void LMPlayerPlayFile(LMPlayer *player, LMFile *file)
{
    if (player == nullptr || file == nullptr)
        return;
    LMPlayerCloseChain(player, file);
    file->next = nullptr;
    player->file = file;
    LMPlayerStartOutput(player);
    LMPlayerSend(player, LMPlayerEventFileChanged);
}

void LMPlayerQueueFile(LMPlayer *player, LMFile *file)
{
    if (player == nullptr || file == nullptr)
        return;
    LMFile **tail = &player->file;
    while (*tail != nullptr) {
        if (*tail == file)
            return;   // already chained
        tail = &(*tail)->next;
    }
    file->next = nullptr;
    *tail = file;
}

static void LMPlayerRestart(LMPlayer *player)
{
    LMFileSeek(player->file, 0);
    player->state = LMPlayerStateIdle;
    LMPlayerStartOutput(player);
}

void LMPlayerPlay(LMPlayer *player)
{
    if (player == nullptr || player->file == nullptr)
        return;
    switch (player->state) {
    case LMPlayerStateIdle:
        LMPlayerStartOutput(player);
        break;
    case LMPlayerStatePaused:
        // A paused queue resumes. One that has stopped for good would stay silent: after
        // the end was played out it restarts the file as in the ended state; after a
        // device failure output is rebuilt from the decode position.
        if (player->queue != nullptr && LMPlayerQueueRunning(player->queue) &&
            AudioQueueStart(player->queue, nullptr) == noErr) {
            player->state = LMPlayerStatePlaying;
            LMPlayerSend(player, LMPlayerEventPlaying);
        } else if (player->queue != nullptr && player->stopping) {
            LMPlayerRestart(player);
        } else {
            LMPlayerStartOutput(player);
        }
        break;
    case LMPlayerStateEnded:
        LMPlayerRestart(player);
        break;
    case LMPlayerStatePlaying:
    case LMPlayerStateError:
    default:
        break;
    }
}

bool LMPlayerOutputRunning(LMPlayer *player)
{
    return player != nullptr && player->queue != nullptr && LMPlayerQueueRunning(player->queue);
}

void LMPlayerPause(LMPlayer *player)
{
    if (player == nullptr)
        return;
    // The output holds seconds of sound after the decoder's end: that, too, pauses.
    const bool playingOut = player->state == LMPlayerStateEnded && LMPlayerOutputRunning(player);
    if (player->state != LMPlayerStatePlaying && !playingOut)
        return;
    if (player->queue != nullptr)
        AudioQueuePause(player->queue);
    player->state = LMPlayerStatePaused;
    LMPlayerSend(player, LMPlayerEventPaused);
}

void LMPlayerSeek(LMPlayer *player, double seconds)
{
    if (player == nullptr || player->file == nullptr)
        return;
    // Sounding on: playing, or still playing out the end of the data.
    const bool sounding = player->state == LMPlayerStatePlaying ||
                          (player->state == LMPlayerStateEnded && LMPlayerOutputRunning(player));
    LMFileSeek(player->file, seconds);
    if (sounding) {
        const bool announce = player->state != LMPlayerStatePlaying;
        LMPlayerStartOutput(player, announce);   // what was queued of the old position is dropped
    } else {
        player->state = LMPlayerStateIdle;
    }
}

double LMPlayerCurrentTime(LMPlayer *player)
{
    return player != nullptr ? LMFileTell(player->file) : 0;
}

double LMPlayerPlayedTime(LMPlayer *player)
{
    const double decoded = LMPlayerCurrentTime(player);
    if (player == nullptr || player->file == nullptr || player->queue == nullptr ||
        player->state == LMPlayerStateIdle || player->state == LMPlayerStateError)
        return decoded;
    AudioTimeStamp time;
    const double rate = LMPlayerQueueRate(player->file);
    if (rate <= 0 || AudioQueueGetCurrentTime(player->queue, nullptr, &time, nullptr) != noErr)
        return decoded;
    const double played = time.mSampleTime / rate;
    if (played < player->queue_start)
        return 0;   // the previous file's end is still heard
    const double heard = player->file_start + (played - player->queue_start);
    return heard < decoded ? heard : decoded;
}

LMFile *LMPlayerCurrentFile(LMPlayer *player)
{
    return player != nullptr ? player->file : nullptr;
}

LMPlayerState LMPlayerGetState(LMPlayer *player)
{
    return player != nullptr ? player->state : LMPlayerStateIdle;
}

float LMPlayerGetVolume(LMPlayer *player)
{
    AudioQueueParameterValue volume = 0;
    if (player == nullptr || player->queue == nullptr ||
        AudioQueueGetParameter(player->queue, kAudioQueueParam_Volume, &volume) != noErr)
        return 0;
    return volume;
}

void LMPlayerSetVolume(LMPlayer *player, float volume)
{
    if (player != nullptr && player->queue != nullptr)
        AudioQueueSetParameter(player->queue, kAudioQueueParam_Volume, volume);
}

void LMPlayerDispose(LMPlayer *player)
{
    if (player == nullptr)
        return;
    LMPlayerCloseChain(player, nullptr);
    if (player->queue != nullptr)
        AudioQueueDispose(player->queue, true);
    free(player);
}
