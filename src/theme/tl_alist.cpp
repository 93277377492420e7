#include "theme/tl_alist.h"

TlObject *tl_alist_get(TlObject *alist, const char *key)
{
    if (!tl_is(alist, TL_PAIR) || !key)
        return nullptr;
    TlObject *symbol = tl_symbol_from_cstring(key);
    TlObject *found = nullptr;
    TlObject *cursor = alist;
    for (TlObject *entry = tl_list_next(&cursor); entry; entry = tl_list_next(&cursor)) {
        if (tl_is(entry, TL_PAIR) && tl_equal_deep(tl_as_pair(entry)->car, symbol)) {
            found = tl_retain(tl_as_pair(entry)->cdr);
            break;
        }
    }
    tl_release(symbol);
    return found;
}

bool tl_color_from_list(TlObject *value, float rgba[4])
{
    if (!tl_is(value, TL_PAIR))
        return false;
    for (int i = 0; i < 4; i++) {
        TlObject *element = tl_list_nth(value, i);
        if (tl_is_number(element))
            rgba[i] = static_cast<float>(tl_number_value(element) / 255.0);
        else
            rgba[i] = i == 3 ? 1.0f : 0.0f;
        tl_release(element);
    }
    return true;
}

bool tl_quad_from_list(TlObject *value, float quad[4])
{
    if (!tl_is(value, TL_PAIR) && !tl_is(value, TL_NIL))
        return false;
    for (int i = 0; i < 4; i++) {
        TlObject *element = tl_list_nth(value, i);
        if (tl_is_number(element))
            quad[i] = static_cast<float>(tl_number_value(element));
        tl_release(element);
    }
    return true;
}
