// The theme language interpreter: one record per load.
//
// Life: tl_interp_new, tl_load_file (or tl_load_port), take the result, tl_interp_free.
// The result is an independent reference that outlives the interpreter. The interpreter
// is single-threaded; different interpreters may run on different threads.
//
// Errors: the reader reports "parser error: ..." on standard error and the load ends as
// at end of input. tl_fatal reports "error: ..." on standard error and abandons the
// evaluation in progress by a non-local jump to the load loop, which dumps the current
// scope on standard output and ends the load with no result. Every object the abandoned
// evaluation held is released then (the interpreter keeps them on its held stack), and the
// cycles between scopes and the procedures bound in them are broken by tl_interp_free.
//
// Limits that keep hostile files from exhausting the stack or the processor: nesting of
// data read, depth of evaluation, and the number of evaluation steps of one load.
#pragma once

#include <csetjmp>

#include "theme/tl_object.h"

#define TL_MAX_READ_DEPTH 1000
#define TL_MAX_EVAL_DEPTH 2000
#define TL_MAX_EVAL_STEPS 1000000L

struct TlInterp {
    TlObject *current;      // current scope (borrowed: kept alive by the global scope,
                            // a procedure being applied or the held stack)
    TlObject *global;       // global scope, owned
    TlObject *pool;         // string pool, owned; only during a load
    jmp_buf jump;           // where tl_fatal lands
    int guarded;            // jump is set
    // Owned references of evaluations in progress; released when one is abandoned.
    TlObject **held;
    int32_t held_count;
    int32_t held_capacity;
    // Every live scope made by this interpreter (not owned), to break cycles at the end.
    TlObject **scopes;
    int32_t scope_count;
    int32_t scope_capacity;
    int32_t depth;          // evaluation depth
    long steps;             // evaluation steps of the current load
};

TlInterp *tl_interp_new(void);
void tl_interp_free(TlInterp *interp);

// Reads and evaluates the file; returns the value of the last expression (new reference)
// or null: file not openable, nothing evaluated, or the last evaluation failed.
TlObject *tl_load_file(TlInterp *interp, TlObject *path);
// The same over an open input port, which stays the caller's.
TlObject *tl_load_port(TlInterp *interp, TlObject *port);

// A new scope whose parent (retained) may be null, tracked by the interpreter.
TlObject *tl_scope_new(TlInterp *interp, TlObject *parent);
void tl_interp_forget_scope(TlInterp *interp, TlObject *scope);

// The held stack: tl_hold takes over a reference and returns the mark to come back to;
// tl_unhold releases everything held above mark; tl_unhold_take hands the reference at
// mark (which must be the top) back to the caller.
int32_t tl_hold(TlInterp *interp, TlObject *obj);
void tl_unhold(TlInterp *interp, int32_t mark);
TlObject *tl_unhold_take(TlInterp *interp, int32_t mark);

// Evaluation (tl_eval.cpp). Values are new references or null (no value). These may only
// run inside a load: a fatal error jumps to its loop.
TlObject *tl_eval(TlInterp *interp, TlObject *expr);
TlObject *tl_eval_list(TlInterp *interp, TlObject *list);
TlObject *tl_apply(TlInterp *interp, TlObject *procedure, TlObject *arguments);
[[noreturn]] void tl_fatal(TlInterp *interp, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// The ten built-ins (tl_builtins.cpp).
#define TL_BUILTIN_COUNT 10
enum {
    TL_BUILTIN_DEFINE = 0,
    TL_BUILTIN_QUOTE = 1,
    TL_BUILTIN_LAMBDA = 2,
    TL_BUILTIN_ADD = 3,
    TL_BUILTIN_MULTIPLY = 4,
    TL_BUILTIN_DIVIDE = 5,
    TL_BUILTIN_SUBTRACT = 6,
    TL_BUILTIN_REMAINDER = 7,
    TL_BUILTIN_CAR = 8,
    TL_BUILTIN_CDR = 9,
};
TlObject *tl_builtin(int index);           // static object
const char *tl_builtin_name(int index);
// Runs built-in 2-9 on evaluated arguments: a new number, or null for the unimplemented.
TlObject *tl_builtin_call(int index, TlObject *arguments);
