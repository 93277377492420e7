// The application's output volume: the level a desktop mixer shows for Lumenar, and the
// one the volume control of the now-playing screen and MPRIS peers move. Every output
// stream plays at this level times its own queue's volume parameter (which the sleep fade
// moves), so the level carries over from queue to queue while a queue's parameter does
// not. On the sound server a stream's volume is that product; a change made there (a
// mixer, pactl) is read back as a new level and reported to the listeners. The silent and
// WAV outputs only keep the number.
//
// Main thread (the queues' thread), but for LMOutputVolumeCurrent, which any thread may
// read. Listeners run on the main thread after each change, whoever made it.
#pragma once

// 0...1, 1 at start.
float LMOutputVolumeGet(void);
// Clamped to 0...1; the listeners hear of a change.
void LMOutputVolumeSet(float level);

typedef void (*LMOutputVolumeListenerProc)(void *user, float level);
void LMOutputVolumeAddListener(LMOutputVolumeListenerProc proc, void *user);
void LMOutputVolumeRemoveListener(LMOutputVolumeListenerProc proc, void *user);

namespace lmaudio {

// Any thread: the level right now (devices read it when they open a stream).
float OutputVolumeCurrent();
// Any thread: the sound server shows another level for our output (a mixer moved it). The
// change reaches the main thread's listeners through its event loop.
void OutputVolumeReported(float level);

} // namespace lmaudio
