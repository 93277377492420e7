// The output engine: turns the current LMFile into sound through one output queue.
//
// It keeps a chain of files (the current one, and behind it files queued for gapless
// continuation, linked through LMFile.next), decodes ahead into three queue buffers,
// refills each buffer when the queue hands it back, moves on to the next chained file
// without a gap when the formats match, and reports events through one callback.
//
// Threads: every call is made on one thread, which runs a Qt event loop; the queue's
// refills and listeners arrive there. Nothing is locked. Event handlers may call the
// engine back (play a file, seek, pause), but must not dispose it.
//
// Ownership: the engine owns every file it was handed and closes it when it is replaced
// or the engine is disposed.
#pragma once

#include <cstdint>

#include "engine/lm_file.h"

struct OpaqueAudioQueue;

typedef int32_t LMPlayerState;
enum : LMPlayerState {
    LMPlayerStateIdle = 0,      // no running output; the next play builds a new queue
    LMPlayerStatePlaying = 1,   // queue started and running
    LMPlayerStatePaused = 2,    // queue paused, or stopped running
    LMPlayerStateEnded = 3,     // the files ran out of data
    LMPlayerStateError = 4,     // the queue could not be built or started
};

typedef int32_t LMPlayerEvent;
enum : LMPlayerEvent {
    LMPlayerEventPosition = 0,      // the decode position moved by a second or more
    LMPlayerEventFileChanged = 1,   // a new file became current (play-file, gapless hand-over)
    LMPlayerEventPaused = 2,        // pause took effect, or the queue stopped running
    LMPlayerEventPlaying = 3,       // the queue started or resumed, or reports running
    LMPlayerEventEnded = 4,         // a refill found no data at all
    LMPlayerEventError = 5,         // the queue could not be built or started
};

typedef void (*LMPlayerEventProc)(void *user, LMPlayerEvent event);

struct LMPlayer {
    LMFile *file;                   // head of the chain
    double last_position;           // decode position of the last position event, seconds
    LMPlayerState state;
    OpaqueAudioQueue *queue;        // or null
    LMPlayerEventProc callback;     // may be null
    void *user;
    int32_t stopping;               // the end was reported; the queue plays out and stops
    // Where the current file is heard on the queue's timeline: its sound from file_start
    // seconds on begins queue_start seconds after the queue started (after a gapless
    // hand-over, where the previous file's last buffer ends). queued: seconds enqueued.
    double file_start;
    double queue_start;
    double queued;
};

LMPlayer *LMPlayerCreate(void);
void LMPlayerSetEventHandler(LMPlayer *player, LMPlayerEventProc callback, void *user);
// Closes every chained file, makes `file` the only one, starts output, then sends event 1.
// A null file does nothing.
void LMPlayerPlayFile(LMPlayer *player, LMFile *file);
// Appends `file` to the chain (it becomes current when the chain is empty); no event.
void LMPlayerQueueFile(LMPlayer *player, LMFile *file);
void LMPlayerPlay(LMPlayer *player);
// While sound comes out: playing, or the data ended (state 3) and the queue still plays
// out what it holds. Pauses the queue, state 2, event 2; play resumes it.
void LMPlayerPause(LMPlayer *player);
// Whether the queue still has sound to give, paused or not: false without a queue and
// once it has played out or stopped.
bool LMPlayerOutputRunning(LMPlayer *player);
// Seeks the current file. While sound comes out (playing, or playing out the end of the
// data), output goes on from there at once: what was queued of the old position is
// dropped with its queue and a new one is built (a playing event only when it was not
// playing; a failure sends event 5). Otherwise the next play builds a new queue from
// there.
void LMPlayerSeek(LMPlayer *player, double seconds);
// The decode position of the current file (ahead of what is heard), 0 without a file.
double LMPlayerCurrentTime(LMPlayer *player);
// The position in the current file of what is heard now: the decode position less what
// the output still holds. 0 while the end of the previous file is still heard after a
// gapless hand-over; the decode position when no output is built.
double LMPlayerPlayedTime(LMPlayer *player);
LMFile *LMPlayerCurrentFile(LMPlayer *player);
LMPlayerState LMPlayerGetState(LMPlayer *player);
// The queue's volume (0 without a queue); it is not carried over to a new queue.
float LMPlayerGetVolume(LMPlayer *player);
void LMPlayerSetVolume(LMPlayer *player, float volume);
// Closes the chain, disposes the queue at once, releases the engine. Null-safe.
void LMPlayerDispose(LMPlayer *player);

// The size of each of the three buffers that output of `file` uses, in bytes (0 when the
// file's block size is beyond belief).
uint32_t LMPlayerBufferSizeForFile(const LMFile *file);

// Whether `next` can continue `current` in the same queue without a gap: both PCM with
// the same layout (rate, channels, bits, byte order, sample sign), or both compressed
// files of the same stream description and magic cookie (LMCoreAudioFilesJoin), whose
// encoder priming and padding the queue trims.
bool LMPlayerFilesJoin(const LMFile *current, const LMFile *next);
