// Numbers read from tag texts.
#pragma once

#include <cstddef>
#include <cstdint>

// The decimal value of the leading digits of `text` (at most `length` bytes, not
// necessarily terminated), after optional white space and one sign: "3/12" gives 3,
// "-2" gives -2, "x" gives 0. Values beyond the 32-bit range are clamped to it.
int32_t LMLeadingInteger(const char *text, size_t length);
