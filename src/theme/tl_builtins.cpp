#include <cmath>
#include <cstdio>
#include <limits>

#include "theme/tl_interp.h"

static const char *const g_names[TL_BUILTIN_COUNT] = {
    "define", "quote", "lambda", "+", "*", "/", "-", "%", "car", "cdr",
};

#define TL_BUILTIN_OBJECT(i) {{TL_PROCEDURE | TL_STATIC_FLAG, 1}, i, nullptr, nullptr, nullptr, nullptr}
static TlProcedure g_builtins[TL_BUILTIN_COUNT] = {
    TL_BUILTIN_OBJECT(0), TL_BUILTIN_OBJECT(1), TL_BUILTIN_OBJECT(2), TL_BUILTIN_OBJECT(3),
    TL_BUILTIN_OBJECT(4), TL_BUILTIN_OBJECT(5), TL_BUILTIN_OBJECT(6), TL_BUILTIN_OBJECT(7),
    TL_BUILTIN_OBJECT(8), TL_BUILTIN_OBJECT(9),
};

TlObject *tl_builtin(int index)
{
    if (index < 0 || index >= TL_BUILTIN_COUNT)
        return nullptr;
    return &g_builtins[index].head;
}

const char *tl_builtin_name(int index)
{
    if (index < 0 || index >= TL_BUILTIN_COUNT)
        return "";
    return g_names[index];
}

namespace {

// Integers wrap at 32 bits; once a real takes part the result stays real.
struct Number {
    bool real;
    int32_t whole;
    float value;

    float asReal() const { return real ? value : static_cast<float>(whole); }
};

Number number_of(TlObject *obj)
{
    if (tl_is(obj, TL_REAL))
        return {true, 0, tl_as_real(obj)->value};
    return {false, tl_as_integer(obj)->value, 0.0f};
}

Number fold(TlObject *cursor, Number acc, bool multiply)
{
    for (TlObject *e = tl_list_next(&cursor); e; e = tl_list_next(&cursor)) {
        if (!tl_is_number(e))
            continue;
        Number x = number_of(e);
        if (!acc.real && !x.real) {
            uint32_t a = static_cast<uint32_t>(acc.whole);
            uint32_t b = static_cast<uint32_t>(x.whole);
            acc.whole = static_cast<int32_t>(multiply ? a * b : a + b);
        } else {
            float a = acc.asReal();
            float b = x.asReal();
            acc = {true, 0, multiply ? a * b : a + b};
        }
    }
    return acc;
}

TlObject *number_new(Number n)
{
    return n.real ? tl_real_new(n.value) : tl_integer_new(n.whole);
}

TlObject *divide(TlObject *args)
{
    TlObject *cursor = args;
    TlObject *first = tl_list_next(&cursor);
    if (!tl_is_number(first))
        return tl_integer_new(1);
    Number dividend = number_of(first);
    Number divisor = fold(cursor, {false, 1, 0.0f}, true);
    if (divisor.asReal() == 0.0f)
        return tl_real_new(std::numeric_limits<float>::infinity());
    if (!dividend.real && !divisor.real) {
        // INT32_MIN / -1 wraps like every other integer result.
        if (dividend.whole == INT32_MIN && divisor.whole == -1)
            return tl_integer_new(INT32_MIN);
        return tl_integer_new(dividend.whole / divisor.whole);
    }
    return tl_real_new(dividend.asReal() / divisor.asReal());
}

TlObject *subtract(TlObject *args)
{
    TlObject *cursor = args;
    TlObject *first = tl_list_next(&cursor);
    if (!tl_is_number(first))
        return tl_integer_new(0);
    Number minuend = number_of(first);
    Number subtrahend = fold(cursor, {false, 0, 0.0f}, false);
    if (!minuend.real && !subtrahend.real)
        return tl_integer_new(static_cast<int32_t>(static_cast<uint32_t>(minuend.whole) -
                                                   static_cast<uint32_t>(subtrahend.whole)));
    return tl_real_new(minuend.asReal() - subtrahend.asReal());
}

} // namespace

TlObject *tl_builtin_call(int index, TlObject *args)
{
    switch (index) {
    case TL_BUILTIN_ADD:
        return number_new(fold(args, {false, 0, 0.0f}, false));
    case TL_BUILTIN_MULTIPLY:
        return number_new(fold(args, {false, 1, 0.0f}, true));
    case TL_BUILTIN_DIVIDE:
        return divide(args);
    case TL_BUILTIN_SUBTRACT:
        return subtract(args);
    default:
        printf("Not implemented %s\n", tl_builtin_name(index));
        return nullptr;
    }
}
