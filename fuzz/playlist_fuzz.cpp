// Play list files: the input as a list in memory, read with the 1000-byte line buffer.
#include <cstdint>

#include "library/playlist_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    PlaylistLines lines = PlaylistLines::fromBytes(bytes);
    for (int i = 0; i < lines.count(); i++) {
        QByteArray entry = lines.entryAt(i);
        if (entry.isEmpty() || entry.size() >= LMPlaylistLineBufferSize || entry.contains('\n'))
            __builtin_trap();
    }
    if (!lines.entryAt(lines.count()).isNull())
        __builtin_trap();
    return 0;
}
