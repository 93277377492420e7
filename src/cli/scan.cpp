// lumenar-cli scan DIR: the library of DIR, one JSON line per item in library order, each
// image file followed by its cue tracks.
#include <cstdio>

#include "cli/cli.h"
#include "cli/library_output.h"

static int runScan(int argc, char **argv)
{
    if (argc != 2)
        return cli::usageError("scan", "expected one folder");
    if (!cli::useDocumentsFolder("scan", argv[1]))
        return 1;
    PlayableItemList library;
    if (!cli::scanLibrary("scan", &library))
        return 1;
    for (const PlayableItemPtr &item : library) {
        cli::printItem(stdout, *item);
        for (const PlayableItemPtr &track : item->subItems())
            cli::printItem(stdout, *track);
    }
    return fflush(stdout) == 0 ? 0 : 1;
}

LUMENAR_CLI_COMMAND("scan", "DIR   print DIR's library as JSON lines (DIR is the documents folder)", runScan);
