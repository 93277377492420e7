// Helpers for the theme language tests: running code with the standard streams captured,
// reading and loading texts in memory, printing results.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <unistd.h>

#include "theme/tl_interp.h"
#include "theme/tl_port.h"
#include "theme/tl_printer.h"
#include "theme/tl_reader.h"
#include "theme/tl_hashmap.h"

namespace tltest {

struct Captured {
    std::string out;
    std::string err;
};

inline std::string slurp(FILE *file)
{
    std::string text;
    rewind(file);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file)) > 0)
        text.append(buf, n);
    fclose(file);
    return text;
}

// Runs fn with file descriptors 1 and 2 sent to temporary files.
inline Captured capture(const std::function<void()> &fn)
{
    fflush(stdout);
    fflush(stderr);
    FILE *out = tmpfile();
    FILE *err = tmpfile();
    int savedOut = dup(1);
    int savedErr = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    fn();
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    return Captured{slurp(out), slurp(err)};
}

inline std::string printed(TlObject *obj)
{
    char *text = tl_print_to_utf8(obj);
    std::string s(text);
    free(text);
    return s;
}

struct Outcome {
    std::string value;  // printed form of the result, or "<null>"
    Captured streams;
};

// Loads `source` with a fresh interpreter, as a theme file would be.
inline Outcome load(const std::string &source)
{
    Outcome outcome;
    outcome.streams = capture([&] {
        TlInterp *interp = tl_interp_new();
        TlObject *port = tl_port_open_bytes(source.data(), source.size());
        TlObject *result = tl_load_port(interp, port);
        tl_release(port);
        tl_interp_free(interp);
        outcome.value = printed(result);
        tl_release(result);
    });
    return outcome;
}

// Reads every datum of `source` (with a string pool, as during a load) until the reader
// gives none; the printed forms joined by " | ", or "<null>" when there is none.
inline Outcome readAll(const std::string &source)
{
    Outcome outcome;
    outcome.streams = capture([&] {
        TlInterp *interp = tl_interp_new();
        interp->pool = tl_hashmap_new();
        TlObject *port = tl_port_open_bytes(source.data(), source.size());
        std::string joined;
        while (TlObject *datum = tl_read(interp, port)) {
            if (!joined.empty())
                joined += " | ";
            joined += printed(datum);
            tl_release(datum);
        }
        outcome.value = joined.empty() ? "<null>" : joined;
        tl_release(port);
        tl_interp_free(interp);
    });
    return outcome;
}

} // namespace tltest
