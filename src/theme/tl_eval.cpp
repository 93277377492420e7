#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "theme/tl_hashmap.h"
#include "theme/tl_interp.h"

void tl_fatal(TlInterp *interp, const char *format, ...)
{
    fputs("error: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    if (!interp || !interp->guarded)
        abort();  // evaluation outside a load: a programming error
    longjmp(interp->jump, 1);
}

static TlObject *lookup(TlInterp *interp, TlObject *symbol)
{
    TlScope *current = tl_as_scope(interp->current);
    TlObject *value = tl_hashmap_get(current->map, symbol);
    if (value)
        return value;
    TlObject *parent = current->parent;
    if (parent) {
        value = tl_hashmap_get(tl_as_scope(parent)->map, symbol);
        if (value)
            return value;
    }
    if (parent == interp->global || interp->current == interp->global)
        return nullptr;
    return tl_hashmap_get(tl_as_scope(interp->global)->map, symbol);
}

static bool is_nil(TlObject *obj)
{
    return tl_is(obj, TL_NIL);
}

// (define s), (define s e), (define (s p...) e...); `args` is the form's cdr.
static TlObject *eval_define(TlInterp *interp, TlObject *args)
{
    if (is_nil(args))
        tl_fatal(interp, "define without symbol");
    if (!tl_is(args, TL_PAIR))
        tl_fatal(interp, "syntax error");
    TlObject *target = tl_as_pair(args)->car;
    TlObject *rest = tl_as_pair(args)->cdr;
    if (tl_is(target, TL_SYMBOL)) {
        TlObject *expr;
        if (is_nil(rest))
            expr = tl_nil();
        else if (tl_is(rest, TL_PAIR) && is_nil(tl_as_pair(rest)->cdr))
            expr = tl_as_pair(rest)->car;
        else
            tl_fatal(interp, "syntax error");
        TlObject *value = tl_eval(interp, expr);
        if (!value)
            return nullptr;  // no value: bind nothing, the define has no value either
        tl_hashmap_put(tl_as_scope(interp->current)->map, target, value);
        tl_release(value);
        return tl_retain(target);
    }
    if (tl_is(target, TL_PAIR) && tl_is(tl_as_pair(target)->car, TL_SYMBOL)) {
        TlObject *name = tl_as_pair(target)->car;
        TlObject *obj = tl_alloc(sizeof(TlProcedure), TL_PROCEDURE);
        TlProcedure *proc = tl_as_procedure(obj);
        proc->index = TL_USER_PROCEDURE;
        proc->params = tl_retain(tl_as_pair(target)->cdr);
        proc->body = tl_retain(rest);
        proc->scope = tl_retain(interp->current);
        proc->interp = interp;
        tl_hashmap_put(tl_as_scope(interp->current)->map, name, obj);
        tl_release(obj);
        return tl_retain(name);
    }
    tl_fatal(interp, "syntax error");
}

static TlObject *eval_form(TlInterp *interp, TlObject *form)
{
    TlObject *proc = tl_eval(interp, tl_as_pair(form)->car);
    if (!tl_is(proc, TL_PROCEDURE)) {
        tl_release(proc);
        tl_fatal(interp, "object is not procedure");
    }
    int32_t mark = tl_hold(interp, proc);
    TlObject *args = tl_as_pair(form)->cdr;
    TlObject *result;
    switch (tl_as_procedure(proc)->index) {
    case TL_BUILTIN_DEFINE:
        result = eval_define(interp, args);
        break;
    case TL_BUILTIN_QUOTE:
        result = tl_retain(args);
        break;
    default: {
        TlObject *values = tl_eval_list(interp, args);
        tl_hold(interp, values);
        result = tl_apply(interp, proc, values);
        break;
    }
    }
    tl_unhold(interp, mark);
    return result;
}

TlObject *tl_eval(TlInterp *interp, TlObject *expr)
{
    if (!expr)
        return nullptr;
    if (++interp->steps > TL_MAX_EVAL_STEPS)
        tl_fatal(interp, "evaluation too long");
    if (interp->depth >= TL_MAX_EVAL_DEPTH)
        tl_fatal(interp, "recursion too deep");
    interp->depth++;
    TlObject *value;
    switch (tl_kind(expr)) {
    case TL_PAIR:
        value = eval_form(interp, expr);
        break;
    case TL_SYMBOL:
        value = lookup(interp, expr);
        break;
    default:
        value = tl_retain(expr);
        break;
    }
    interp->depth--;
    return value;
}

TlObject *tl_eval_list(TlInterp *interp, TlObject *list)
{
    if (is_nil(list))
        return tl_nil();
    if (!tl_is(list, TL_PAIR))
        tl_fatal(interp, "eval list expect pair\n");
    TlObject *values = tl_pair_new(tl_nil(), tl_nil());
    int32_t mark = tl_hold(interp, values);
    TlObject *last = values;
    bool missing = false;
    TlObject *cursor = list;
    for (TlObject *expr = tl_list_next(&cursor); expr; expr = tl_list_next(&cursor)) {
        TlObject *value = tl_eval(interp, expr);
        // Every walk of the list stops at a missing value, so nothing after one can count;
        // the rest is still evaluated for its effects but never kept.
        if (!value || missing) {
            missing = true;
            tl_release(value);
            continue;
        }
        TlPair *tail = tl_as_pair(last);
        if (is_nil(tail->car)) {
            tail->car = value;
        } else {
            TlObject *pair = tl_pair_new(value, tl_nil());
            tail->cdr = pair;
            last = pair;
        }
    }
    return tl_unhold_take(interp, mark);
}

static TlObject *apply_user(TlInterp *interp, TlProcedure *proc, TlObject *args)
{
    TlObject *caller = interp->current;
    interp->current = proc->scope;
    int32_t mark = -1;
    if (!is_nil(proc->params) && !is_nil(args)) {
        TlObject *scope = tl_scope_new(interp, interp->current);
        mark = tl_hold(interp, scope);
        interp->current = scope;
        if (!tl_is(proc->params, TL_PAIR) || !tl_is(args, TL_PAIR))
            tl_fatal(interp, "error syntax");
        TlObject *bindings = tl_as_scope(scope)->map;
        TlObject *params = proc->params;
        TlObject *values = args;
        for (;;) {
            TlObject *param = tl_list_next(&params);
            if (!param)
                break;
            TlObject *value = tl_list_next(&values);
            if (!value)
                break;
            tl_hashmap_put(bindings, param, value);
        }
    }

    TlObject *result = nullptr;
    if (is_nil(proc->body)) {
        result = tl_nil();
    } else if (!tl_is(proc->body, TL_PAIR)) {
        tl_fatal(interp, "error proc body");
    } else {
        bool evaluated = false;
        TlObject *cursor = proc->body;
        for (TlObject *expr = tl_list_next(&cursor); expr; expr = tl_list_next(&cursor)) {
            tl_release(result);
            result = nullptr;
            result = tl_eval(interp, expr);
            evaluated = true;
        }
        if (!evaluated)
            result = tl_nil();
    }

    if (mark >= 0) {
        interp->current = tl_as_scope(interp->current)->parent;
        tl_unhold(interp, mark);
    }
    interp->current = caller;
    return result;
}

TlObject *tl_apply(TlInterp *interp, TlObject *procedure, TlObject *args)
{
    if (!tl_is(procedure, TL_PROCEDURE))
        tl_fatal(interp, "object is not procedure");
    TlProcedure *proc = tl_as_procedure(procedure);
    switch (proc->index) {
    case TL_BUILTIN_DEFINE:
        return eval_define(interp, args);
    case TL_BUILTIN_QUOTE:
        return tl_retain(args);
    default:
        if (proc->index < TL_BUILTIN_COUNT)
            return tl_builtin_call(proc->index, args);
        return apply_user(interp, proc, args);
    }
}
