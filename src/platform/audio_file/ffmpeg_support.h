// Small helpers shared by the layers built on FFmpeg (audio file service, packet decoder,
// Monkey's Audio decompression).
#pragma once

// FFmpeg reports problems of every file on standard error; the engine reports its own
// refusals, so FFmpeg is kept quiet unless $LUMENAR_FFMPEG_LOG names a level
// ("error", "warning", "info", "debug"). Idempotent and cheap.
void LMFFmpegQuiet();
