// Reading a loaded theme: its value is a list whose entries (KEY . VALUE) have a symbol
// as key; other entries are ignored and the first entry of a key wins.
#pragma once

#include "theme/tl_object.h"

// The value of `key` (retained), or null when the list is not a list or lacks the key.
TlObject *tl_alist_get(TlObject *alist, const char *key);

// A colour list: up to four numbers red, green, blue, alpha on the scale 0-255, each taken
// as an integer (reals truncated toward zero) and divided by 255. Missing or non-numeric
// red, green or blue count as 0, alpha as 1. No clamping. False when `value` is not a pair.
bool tl_color_from_list(TlObject *value, float rgba[4]);

// Each of the first four elements that is a number, as an integer, goes into its slot of
// `quad`; other slots keep their content. False (quad untouched) when `value` is not a
// list.
bool tl_quad_from_list(TlObject *value, float quad[4]);
