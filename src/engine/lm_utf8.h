// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Shared by every
// layer that must tell UTF-8 text from legacy bytes.
#pragma once

#include <cstddef>

// Length of the valid UTF-8 sequence that starts at p[0] (n bytes available), or 0 when
// there is none (n == 0 included).
size_t LMUtf8SequenceLength(const unsigned char *p, size_t n);
// Whether all n bytes are valid UTF-8.
bool LMUtf8IsValid(const void *bytes, size_t n);
