#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/cli.h"

namespace cli {

static std::vector<Command> &commands()
{
    static std::vector<Command> all;
    return all;
}

void registerCommand(const Command &command)
{
    commands().push_back(command);
}

int usageError(const char *name, const char *message)
{
    fprintf(stderr, "lumenar-cli %s: %s\n", name, message);
    for (const Command &c : commands())
        if (strcmp(c.name, name) == 0)
            fprintf(stderr, "usage: lumenar-cli %s %s\n", c.name, c.usage);
    return 2;
}

static void printUsage(FILE *out)
{
    fprintf(out, "usage: lumenar-cli COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command &c : commands())
        fprintf(out, "  %s %s\n", c.name, c.usage);
}

} // namespace cli

int main(int argc, char **argv)
{
    if (argc < 2) {
        cli::printUsage(stderr);
        return 2;
    }
    if (strcmp(argv[1], "help") == 0 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        cli::printUsage(stdout);
        return 0;
    }
    for (const cli::Command &c : cli::commands()) {
        if (strcmp(c.name, argv[1]) == 0)
            return c.run(argc - 1, argv + 1);
    }
    fprintf(stderr, "lumenar-cli: unknown command \"%s\"\n", argv[1]);
    cli::printUsage(stderr);
    return 2;
}
