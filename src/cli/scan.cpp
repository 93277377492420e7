// lumenar-cli scan [--no-cache] DIR: the library of DIR, one JSON line per item in library
// order, each image file followed by its cue tracks. Files unchanged since an earlier scan
// come from the library cache; --no-cache opens and parses every file, leaving the cache
// alone.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "cli/library_output.h"

static int runScan(int argc, char **argv)
{
    const char *dir = nullptr;
    bool useCache = true;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--no-cache") == 0)
            useCache = false;
        else if (dir == nullptr && (argv[i][0] != '-' || argv[i][1] == '\0'))
            dir = argv[i];
        else if (argv[i][0] == '-')
            return cli::usageError("scan", (std::string("unknown option ") + argv[i]).c_str());
        else
            return cli::usageError("scan", "expected one folder");
    }
    if (dir == nullptr)
        return cli::usageError("scan", "expected one folder");
    if (!cli::useDocumentsFolder("scan", dir))
        return 1;
    PlayableItemList library;
    if (!cli::scanLibrary("scan", &library, useCache))
        return 1;
    for (const PlayableItemPtr &item : library) {
        cli::printItem(stdout, *item);
        for (const PlayableItemPtr &track : item->subItems())
            cli::printItem(stdout, *track);
    }
    return fflush(stdout) == 0 ? 0 : 1;
}

LUMENAR_CLI_COMMAND("scan", "[--no-cache] DIR   print DIR's library as JSON lines (DIR is the documents folder)",
                    runScan);
