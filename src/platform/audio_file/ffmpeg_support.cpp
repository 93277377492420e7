#include "platform/audio_file/ffmpeg_support.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

void LMFFmpegQuiet()
{
    static std::once_flag once;
    std::call_once(once, [] {
        int level = AV_LOG_QUIET;
        if (const char *name = getenv("LUMENAR_FFMPEG_LOG")) {
            if (strcmp(name, "error") == 0)
                level = AV_LOG_ERROR;
            else if (strcmp(name, "warning") == 0)
                level = AV_LOG_WARNING;
            else if (strcmp(name, "info") == 0)
                level = AV_LOG_INFO;
            else if (strcmp(name, "debug") == 0)
                level = AV_LOG_DEBUG;
        }
        av_log_set_level(level);
    });
}
