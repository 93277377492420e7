// lumenar-cli: the headless face of Lumenar. Each command lives in its own source file
// and registers itself with LUMENAR_CLI_COMMAND; main() dispatches on the first argument.
// Commands print their results on standard output and return the process exit status.
#pragma once

namespace cli {

struct Command {
    const char *name;
    const char *usage;            // one line: arguments and options
    int (*run)(int argc, char **argv);  // argv[0] is the command name
};

void registerCommand(const Command &command);

struct Registrar {
    explicit Registrar(const Command &command) { registerCommand(command); }
};

// Writes "lumenar-cli NAME: message" to standard error; returns 2 (usage) for convenience.
int usageError(const char *name, const char *message);

} // namespace cli

#define LUMENAR_CLI_CONCAT2(a, b) a##b
#define LUMENAR_CLI_CONCAT(a, b) LUMENAR_CLI_CONCAT2(a, b)
#define LUMENAR_CLI_COMMAND(name, usage, fn) \
    static const cli::Registrar LUMENAR_CLI_CONCAT(cliRegistrar_, __LINE__)({name, usage, fn})
