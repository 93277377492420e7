#include "theme/tl_interp.h"

#include <cstdio>
#include <cstdlib>

#include "theme/tl_hashmap.h"
#include "theme/tl_port.h"
#include "theme/tl_printer.h"
#include "theme/tl_reader.h"

TlInterp *tl_interp_new(void)
{
    TlInterp *interp = static_cast<TlInterp *>(tl_xcalloc(1, sizeof(TlInterp)));
    interp->global = tl_scope_new(interp, nullptr);
    TlObject *bindings = tl_as_scope(interp->global)->map;
    for (int i = 0; i < TL_BUILTIN_COUNT; i++) {
        TlObject *name = tl_symbol_from_cstring(tl_builtin_name(i));
        tl_hashmap_put(bindings, name, tl_builtin(i));
        tl_release(name);
    }
    interp->current = interp->global;
    return interp;
}

void tl_interp_free(TlInterp *interp)
{
    if (!interp)
        return;
    tl_unhold(interp, 0);
    tl_release(interp->pool);
    interp->pool = nullptr;

    // A procedure bound in the scope it was defined in keeps that scope alive (the global
    // scope first of all). Empty every scope still alive so that those cycles fall apart;
    // a procedure that outlives the interpreter keeps an empty scope.
    TlObject **scopes = interp->scopes;
    int32_t count = interp->scope_count;
    interp->scopes = nullptr;
    interp->scope_count = interp->scope_capacity = 0;
    for (int32_t i = 0; i < count; i++) {
        tl_as_scope(scopes[i])->owner = nullptr;
        tl_retain(scopes[i]);
    }
    for (int32_t i = 0; i < count; i++)
        tl_hashmap_clear(tl_as_scope(scopes[i])->map);
    for (int32_t i = 0; i < count; i++)
        tl_release(scopes[i]);
    free(scopes);

    tl_release(interp->global);
    free(interp->held);
    free(interp);
}

TlObject *tl_scope_new(TlInterp *interp, TlObject *parent)
{
    TlObject *obj = tl_alloc(sizeof(TlScope), TL_SCOPE);
    TlScope *scope = tl_as_scope(obj);
    scope->map = tl_hashmap_new();
    scope->parent = tl_retain(parent);
    if (interp) {
        if (interp->scope_count == interp->scope_capacity) {
            int32_t grown = interp->scope_capacity ? interp->scope_capacity * 2 : 16;
            interp->scopes = static_cast<TlObject **>(
                tl_xrealloc(interp->scopes, sizeof(TlObject *) * static_cast<size_t>(grown)));
            interp->scope_capacity = grown;
        }
        scope->owner = interp;
        scope->slot = interp->scope_count;
        interp->scopes[interp->scope_count++] = obj;
    }
    return obj;
}

void tl_interp_forget_scope(TlInterp *interp, TlObject *obj)
{
    TlScope *scope = tl_as_scope(obj);
    int32_t slot = scope->slot;
    if (slot < 0 || slot >= interp->scope_count || interp->scopes[slot] != obj)
        return;
    TlObject *moved = interp->scopes[--interp->scope_count];
    interp->scopes[slot] = moved;
    tl_as_scope(moved)->slot = slot;
    scope->owner = nullptr;
}

int32_t tl_hold(TlInterp *interp, TlObject *obj)
{
    if (interp->held_count == interp->held_capacity) {
        int32_t grown = interp->held_capacity ? interp->held_capacity * 2 : 64;
        interp->held = static_cast<TlObject **>(
            tl_xrealloc(interp->held, sizeof(TlObject *) * static_cast<size_t>(grown)));
        interp->held_capacity = grown;
    }
    interp->held[interp->held_count] = obj;
    return interp->held_count++;
}

void tl_unhold(TlInterp *interp, int32_t mark)
{
    while (interp->held_count > mark) {
        TlObject *obj = interp->held[--interp->held_count];
        tl_release(obj);
    }
}

TlObject *tl_unhold_take(TlInterp *interp, int32_t mark)
{
    TlObject *obj = interp->held[mark];
    interp->held_count = mark;
    return obj;
}

// The guard of one top-level evaluation. Nothing here is touched after setjmp returns a
// second time but the interpreter record.
static bool eval_guarded(TlInterp *interp, TlObject *datum, TlObject **value)
{
    if (setjmp(interp->jump) != 0) {
        interp->guarded = 0;
        return false;
    }
    interp->guarded = 1;
    *value = tl_eval(interp, datum);
    interp->guarded = 0;
    return true;
}

TlObject *tl_load_port(TlInterp *interp, TlObject *port)
{
    if (!interp || !tl_is(port, TL_PORT))
        return nullptr;
    TlObject *out = tl_port_stdout();
    tl_release(interp->pool);
    interp->pool = tl_hashmap_new();
    interp->steps = 0;

    TlObject *result = nullptr;
    for (;;) {
        TlObject *datum = tl_read(interp, port);
        if (!datum)
            break;
        tl_release(result);
        result = nullptr;
        bool completed = eval_guarded(interp, datum, &result);
        tl_release(datum);
        if (!completed || !result) {
            tl_print(interp->current, out);
            tl_port_putc(out, '\n');
            fflush(stdout);
            // Whatever the abandoned evaluation held goes now; the scopes of calls in
            // progress are among it.
            tl_unhold(interp, 0);
            interp->current = interp->global;
            interp->depth = 0;
            tl_release(result);
            result = nullptr;
            break;
        }
    }

    tl_release(interp->pool);
    interp->pool = nullptr;
    tl_release(out);
    return result;
}

TlObject *tl_load_file(TlInterp *interp, TlObject *path)
{
    if (!interp)
        return nullptr;
    TlObject *port = tl_port_open_file(path);
    if (!port)
        return nullptr;
    TlObject *result = tl_load_port(interp, port);
    tl_release(port);
    return result;
}
