// Text helpers of the ID3 tag reader: field decoding to UTF-8, numbers, genre references.
// Internal to lm_tag.cpp; every result is a malloc'ed, 0-terminated UTF-8 text or null.
#pragma once

#include <cstddef>
#include <cstdint>

// ID3v2 text encodings (the byte in front of a text field).
enum : int {
    LMId3Latin1 = 0,
    LMId3Utf16 = 1,     // with a byte-order mark; little-endian without one
    LMId3Utf16BE = 2,
    LMId3Utf8 = 3,
};

// Decodes the text at `p` (up to `n` bytes) in `encoding` up to its terminator (a 0 byte,
// or a 0 unit for UTF-16) or the end of the field. Null when the text is empty. When
// `consumed` is given it receives the bytes used including the terminator, so that a
// field following the text (a comment's text, a picture's data) can be found.
char *LMId3DecodeText(int encoding, const unsigned char *p, size_t n, size_t *consumed);

// The leading decimal digits of `text` as a number (saturating); 0 without digits or text.
int32_t LMId3Number(const char *text);

// Resolves genre references such as "(17)" to names (see the .cpp); null when empty.
char *LMId3GenreFromText(const char *text);

// A heap copy of the bytes up to the first 0 within `n`; null when the first byte is 0.
char *LMId3CopyRaw(const unsigned char *p, size_t n);
