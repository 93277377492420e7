// lumenar-cli probe FILE...: opens each file as the player would and prints its format
// and tag as one JSON object per line. The readers' own diagnostic lines go to standard
// error; the exit status is 1 when any file could not be opened.
#include <cstdio>

#include "cli/cli.h"
#include "cli/json.h"
#include "engine/lm_file.h"

namespace {

cli::JsonObject tagObject(const LMTag &tag)
{
    cli::JsonObject o;
    o.addText("title", tag.title)
        .addText("artist", tag.artist)
        .addText("album", tag.album)
        .addText("comment", tag.comment)
        .addText("genre", tag.genre)
        .addInt("year", tag.year)
        .addInt("track", tag.track)
        .addInt("picture_size", tag.picture_size)
        .addText("cuesheet", tag.cuesheet);
    return o;
}

int probe(int argc, char **argv)
{
    if (argc < 2)
        return cli::usageError("probe", "no file given");
    int status = 0;
    for (int i = 1; i < argc; i++) {
        cli::JsonObject o;
        o.addString("path", argv[i]);
        LMFile *file = LMFileOpen(argv[i]);
        if (file == nullptr) {
            o.addString("error", "cannot open");
            status = 1;
        } else {
            o.addInt("type", file->type)
                .addInt("num_channels", file->num_channels)
                .addInt("bits_per_sample", file->bits_per_sample)
                .addInt("sample_rate", file->sample_rate)
                .addInt("block_size", file->block_size)
                .addInt("big_endian", file->big_endian)
                .addDouble("duration", file->duration)
                .addObject("tag", tagObject(file->tag));
            LMFileClose(file);
        }
        // Flushed per line so that it stays in step with the readers' lines on stderr.
        printf("%s\n", o.str().c_str());
        fflush(stdout);
    }
    return status;
}

} // namespace

LUMENAR_CLI_COMMAND("probe", "FILE...", probe);
