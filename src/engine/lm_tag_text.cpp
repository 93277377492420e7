#include "engine/lm_tag_text.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/lm_tag.h"
#include "engine/lm_utf8.h"

// A text being built into a buffer allocated once with room for the worst case.
struct TextOut {
    char *data;
    size_t len;
};

static bool TextOutInit(TextOut *out, size_t capacity)
{
    out->len = 0;
    out->data = (char *)malloc(capacity + 1);
    return out->data != NULL;
}

static void TextOutCode(TextOut *out, uint32_t cp)
{
    char *d = out->data + out->len;
    if (cp < 0x80) {
        d[0] = (char)cp;
        out->len += 1;
    } else if (cp < 0x800) {
        d[0] = (char)(0xC0 | (cp >> 6));
        d[1] = (char)(0x80 | (cp & 0x3F));
        out->len += 2;
    } else if (cp < 0x10000) {
        d[0] = (char)(0xE0 | (cp >> 12));
        d[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        d[2] = (char)(0x80 | (cp & 0x3F));
        out->len += 3;
    } else {
        d[0] = (char)(0xF0 | (cp >> 18));
        d[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
        d[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
        d[3] = (char)(0x80 | (cp & 0x3F));
        out->len += 4;
    }
}

// Null for an empty text, so that an empty field reads as absent.
static char *TextOutFinish(TextOut *out)
{
    if (out->len == 0) {
        free(out->data);
        return NULL;
    }
    out->data[out->len] = '\0';
    return out->data;
}


static char *DecodeLatin1(const unsigned char *p, size_t n)
{
    TextOut out;
    if (!TextOutInit(&out, 2 * n))
        return NULL;
    for (size_t i = 0; i < n; i++)
        TextOutCode(&out, p[i]);
    return TextOutFinish(&out);
}

static char *DecodeBytes(int encoding, const unsigned char *p, size_t n, size_t *consumed)
{
    const unsigned char *end = (const unsigned char *)memchr(p, 0, n);
    size_t len = end ? (size_t)(end - p) : n;
    if (consumed)
        *consumed = end ? len + 1 : n;
    // Text that claims UTF-8 but is not is read as ISO-8859-1, the encoding it most
    // likely is; either way the result is valid UTF-8.
    if (encoding == LMId3Utf8 && LMUtf8IsValid(p, len)) {
        TextOut out;
        if (!TextOutInit(&out, len))
            return NULL;
        memcpy(out.data, p, len);
        out.len = len;
        return TextOutFinish(&out);
    }
    return DecodeLatin1(p, len);
}

static char *DecodeUtf16(int encoding, const unsigned char *p, size_t n, size_t *consumed)
{
    bool big = encoding == LMId3Utf16BE;
    size_t i = 0;
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        big = true;
        i = 2;
    } else if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        big = false;
        i = 2;
    }
    TextOut out;
    // At most 3 bytes of UTF-8 for each 2 bytes of UTF-16.
    if (!TextOutInit(&out, n / 2 * 3)) {
        if (consumed)
            *consumed = n;
        return NULL;
    }
    size_t used = n;
    while (i + 2 <= n) {
        uint32_t u = big ? (uint32_t)((p[i] << 8) | p[i + 1]) : (uint32_t)(p[i] | (p[i + 1] << 8));
        i += 2;
        if (u == 0) {
            used = i;
            break;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 2 <= n) {
            uint32_t low = big ? (uint32_t)((p[i] << 8) | p[i + 1]) : (uint32_t)(p[i] | (p[i + 1] << 8));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2;
                TextOutCode(&out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        // A surrogate without its partner stands for no character.
        TextOutCode(&out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
    }
    if (consumed)
        *consumed = used;
    return TextOutFinish(&out);
}

char *LMId3DecodeText(int encoding, const unsigned char *p, size_t n, size_t *consumed)
{
    if (encoding == LMId3Utf16 || encoding == LMId3Utf16BE)
        return DecodeUtf16(encoding, p, n, consumed);
    return DecodeBytes(encoding, p, n, consumed);
}

int32_t LMId3Number(const char *text)
{
    if (text == NULL)
        return 0;
    int64_t value = 0;
    for (const char *s = text; *s >= '0' && *s <= '9'; s++) {
        value = value * 10 + (*s - '0');
        if (value > INT32_MAX)
            return INT32_MAX;
    }
    return (int32_t)value;
}

static size_t Utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Copies the text, replacing each "(" followed by digits with the genre name of that
// number: "(17)(6)" gives "Rock/Grunge", "(17)Rock" gives "Rock/Rock", "Pop(17)" gives
// "Pop/Rock"; a bare "17" stays "17". A number above 147 or a reference without its ")"
// ends the result. The result holds at most 255 bytes and never splits a character.
char *LMId3GenreFromText(const char *text)
{
    if (text == NULL)
        return NULL;
    char result[256];
    size_t len = 0;
    const char *s = text;
    while (*s != '\0') {
        if (s[0] == '(' && IsDigit(s[1])) {
            const char *d = s + 1;
            unsigned number = 0;
            for (; IsDigit(*d); d++)
                number = number > 1000 ? number : number * 10 + (unsigned)(*d - '0');
            if (number > 147)
                break;
            const char *name = LMGenreNames[number];
            const size_t nameLen = strlen(name);
            if (len + (len > 0 ? 1 : 0) + nameLen > 253)
                break;
            if (len > 0)
                result[len++] = '/';
            memcpy(result + len, name, nameLen);
            len += nameLen;
            if (*d != ')')
                break;
            d++;
            if (*d != '\0' && *d != '(' && len <= 254)
                result[len++] = '/';
            s = d;
            continue;
        }
        size_t charLen = Utf8Length((unsigned char)*s);
        if (len + charLen > 255 || strnlen(s, charLen) < charLen)
            break;
        memcpy(result + len, s, charLen);
        len += charLen;
        s += charLen;
    }
    if (len == 0)
        return NULL;
    char *copy = (char *)malloc(len + 1);
    if (copy == NULL)
        return NULL;
    memcpy(copy, result, len);
    copy[len] = '\0';
    return copy;
}

char *LMId3CopyRaw(const unsigned char *p, size_t n)
{
    size_t len = strnlen((const char *)p, n);
    if (len == 0)
        return NULL;
    char *copy = (char *)malloc(len + 1);
    if (copy == NULL)
        return NULL;
    memcpy(copy, p, len);
    copy[len] = '\0';
    return copy;
}
