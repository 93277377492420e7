#include "cli/json.h"

#include <charconv>
#include <cmath>

namespace cli {

// Length of the valid UTF-8 sequence at p[0..n), or 0 when it is not one.
static size_t utf8Sequence(const unsigned char *p, size_t n)
{
    const unsigned char c = p[0];
    size_t len;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (size_t k = 1; k < len; k++) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

void jsonAppendString(std::string &out, std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    out += '"';
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            i++;
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            i++;
        } else if (size_t len = utf8Sequence(p + i, n - i)) {
            out.append(text.data() + i, len);
            i += len;
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
            i++;
        }
    }
    out += '"';
}

void jsonAppendNumber(std::string &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
}

void JsonObject::key(const char *name)
{
    if (body_.size() > 1)
        body_ += ',';
    jsonAppendString(body_, name);
    body_ += ':';
}

JsonObject &JsonObject::addString(const char *name, std::string_view value)
{
    key(name);
    jsonAppendString(body_, value);
    return *this;
}

JsonObject &JsonObject::addText(const char *name, const char *value)
{
    key(name);
    if (value == nullptr)
        body_ += "null";
    else
        jsonAppendString(body_, value);
    return *this;
}

JsonObject &JsonObject::addInt(const char *name, int64_t value)
{
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::addDouble(const char *name, double value)
{
    key(name);
    jsonAppendNumber(body_, value);
    return *this;
}

JsonObject &JsonObject::addObject(const char *name, const JsonObject &value)
{
    key(name);
    body_ += value.str();
    return *this;
}

} // namespace cli
