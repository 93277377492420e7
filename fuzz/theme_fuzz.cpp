// Loads arbitrary bytes as a theme file (reader and evaluator together), then prints the
// value and asks it every key a screen asks.
#include <cstdint>
#include <cstdlib>

#include "theme/theme.h"
#include "theme/tl_alist.h"
#include "theme/tl_interp.h"
#include "theme/tl_port.h"
#include "theme/tl_printer.h"

static const char *const kKeys[] = {
    "scroll-indicator",     "background-image-portrait", "background-image-landscape",
    "list-background-color", "list-inset-portrait",      "list-inset-landscape",
    "background-color",     "list-separator-color",      "list-title-color",
    "list-subtitle-color",
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TlInterp *interp = tl_interp_new();
    TlObject *port = tl_port_open_bytes(data, size);
    TlObject *result = tl_load_port(interp, port);
    tl_release(port);
    tl_interp_free(interp);

    free(tl_print_to_utf8(result));
    for (const char *key : kKeys) {
        TlObject *value = tl_alist_get(result, key);
        float quad[4] = {0, 0, 0, 0};
        tl_quad_from_list(value, quad);
        (void)Theme::colorFromList(value);
        if (tl_is(value, TL_STRING))
            free(tl_string_to_utf8(value));
        tl_release(value);
    }
    tl_release(result);
    return 0;
}
