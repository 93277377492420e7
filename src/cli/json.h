// JSON lines for lumenar-cli commands that print one object per line (probe, scan, ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// Appends `text` as a JSON string, quotes included. Valid UTF-8 passes through; a byte
// that is not part of valid UTF-8 (raw ID3v1 text, a legacy file name) becomes the
// character of its Latin-1 value. Control characters are written as \u00XX.
void jsonAppendString(std::string &out, std::string_view text);

// Shortest text that reads back as the same double; null for NaN and infinities, which
// JSON cannot hold.
void jsonAppendNumber(std::string &out, double value);

// One JSON object built key by key, in the order the keys are added.
class JsonObject {
public:
    JsonObject &addString(const char *key, std::string_view value);
    JsonObject &addText(const char *key, const char *value);   // null pointer -> null
    JsonObject &addInt(const char *key, int64_t value);
    JsonObject &addDouble(const char *key, double value);
    JsonObject &addObject(const char *key, const JsonObject &value);
    std::string str() const { return body_ + "}"; }

private:
    void key(const char *name);
    std::string body_ = "{";
};

} // namespace cli
