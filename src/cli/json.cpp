#include "cli/json.h"

#include <charconv>
#include <cmath>

#include "engine/lm_utf8.h"

namespace cli {

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
        } else if (size_t len = LMUtf8SequenceLength(p + i, n - i)) {
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
