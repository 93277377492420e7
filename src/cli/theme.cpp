// lumenar-cli theme FILE [KEY...]: loads a theme file with a fresh interpreter, prints the
// loaded value in the printer's form (or <null>), then one line per KEY with the answer a
// Theme gives for it. The interpreter's own diagnostics stay on the standard streams.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QColor>

#include "cli/cli.h"
#include "theme/theme.h"
#include "theme/tl_alist.h"
#include "theme/tl_interp.h"
#include "theme/tl_port.h"
#include "theme/tl_printer.h"

namespace {

enum class KeyType { Color, Bool, String, Insets, Inferred };

KeyType typeOfKey(const char *key)
{
    static const struct {
        const char *key;
        KeyType type;
    } known[] = {
        {"scroll-indicator", KeyType::Bool},
        {"background-image-portrait", KeyType::String},
        {"background-image-landscape", KeyType::String},
        {"list-inset-portrait", KeyType::Insets},
        {"list-inset-landscape", KeyType::Insets},
        {"list-background-color", KeyType::Color},
        {"background-color", KeyType::Color},
        {"list-separator-color", KeyType::Color},
        {"list-title-color", KeyType::Color},
        {"list-subtitle-color", KeyType::Color},
    };
    for (const auto &k : known)
        if (strcmp(k.key, key) == 0)
            return k.type;
    return KeyType::Inferred;
}

void printAnswer(TlObject *list, const char *key)
{
    TlObject *value = tl_alist_get(list, key);
    KeyType type = typeOfKey(key);
    if (type == KeyType::Inferred) {
        // A key the screens do not read: answer by the form of its value.
        if (tl_is(value, TL_BOOLEAN))
            type = KeyType::Bool;
        else if (tl_is(value, TL_STRING))
            type = KeyType::String;
        else
            type = KeyType::Color;
    }
    if (!value) {
        printf("%s <none>\n", key);
        return;
    }
    switch (type) {
    case KeyType::Bool:
        printf("%s bool %s\n", key, value == tl_true() ? "true" : "false");
        break;
    case KeyType::String:
        if (tl_is(value, TL_STRING)) {
            char *text = tl_string_to_utf8(value);
            printf("%s string %s\n", key, text);
            free(text);
        } else {
            printf("%s <none>\n", key);
        }
        break;
    case KeyType::Insets: {
        float quad[4] = {0, 0, 0, 0};
        if (tl_quad_from_list(value, quad))
            printf("%s insets %.0f %.0f %.0f %.0f\n", key, quad[0], quad[1], quad[2], quad[3]);
        else
            printf("%s <none>\n", key);
        break;
    }
    case KeyType::Color:
    case KeyType::Inferred: {
        QColor color = Theme::colorFromList(value);
        if (color.isValid())
            printf("%s color %.4f %.4f %.4f %.4f\n", key, color.redF(), color.greenF(), color.blueF(),
                   color.alphaF());
        else
            printf("%s <none>\n", key);
        break;
    }
    }
    tl_release(value);
}

int runTheme(int argc, char **argv)
{
    if (argc < 2)
        return cli::usageError("theme", "missing FILE");
    const char *file = argv[1];
    if (FILE *probe = fopen(file, "r"))
        fclose(probe);
    else
        fprintf(stderr, "lumenar-cli theme: cannot open %s: %s\n", file, strerror(errno));

    TlInterp *interp = tl_interp_new();
    TlObject *path = tl_string_from_utf8(file);
    TlObject *result = tl_load_file(interp, path);
    tl_release(path);
    tl_interp_free(interp);

    TlObject *out = tl_port_stdout();
    tl_print(result, out);
    tl_release(out);
    putchar('\n');
    for (int i = 2; i < argc; i++)
        printAnswer(result, argv[i]);
    fflush(stdout);
    int status = result ? 0 : 1;
    tl_release(result);
    return status;
}

} // namespace

LUMENAR_CLI_COMMAND("theme",
                    "FILE [KEY...]  loads a theme file; prints the value (or <null>), then per KEY one "
                    "line: KEY color R G B A | KEY bool true|false | KEY string TEXT | "
                    "KEY insets T L B R | KEY <none> (exit 1 when nothing loaded)",
                    runTheme);
