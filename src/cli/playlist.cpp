// lumenar-cli playlist DIR: the main play list composed from DIR's library by the stored
// organize settings (Organize, CurrentFolder, CurrentArtist, CurrentAlbum,
// CurrentPlaylist, CurrentFile), one JSON line per row.
#include <cstdio>

#include "cli/cli.h"
#include "cli/library_output.h"
#include "library/play_list_composer.h"

static int runPlaylist(int argc, char **argv)
{
    if (argc != 2)
        return cli::usageError("playlist", "expected one folder");
    if (!cli::useDocumentsFolder("playlist", argv[1]))
        return 1;
    PlayableItemList library;
    if (!cli::scanLibrary("playlist", &library))
        return 1;
    PlayListComposer composer;
    composer.updatePlayList(library);
    for (const PlayableItemPtr &row : composer.playList())
        cli::printItem(stdout, *row);
    return fflush(stdout) == 0 ? 0 : 1;
}

LUMENAR_CLI_COMMAND("playlist", "DIR   print the main play list composed from DIR's library as JSON lines",
                    runPlaylist);
