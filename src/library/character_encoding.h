// Byte texts without a declared encoding (cue sheets, play lists, lyrics, FTP command
// lines, ID3v1 tags) become strings here: UTF-8 when valid, else the user's chosen legacy
// encoding (user default PreferedEnc), else a fixed list of fallbacks.
//
// The stored values are the handheld's string-encoding codes, kept so that stored
// settings mean the same everywhere; iconv does the conversion.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class CharacterEncoding {
public:
    enum : unsigned {
        Western = 0,
        Japanese = 1,
        ChineseTraditional = 2,
        Korean = 3,
        ChineseSimplified = 25,
        Russian = 1282,
    };

    // Never null: "" for none or when nothing converts. Reads PreferedEnc on each call;
    // safe on any thread.
    static QString parseCString(const char *bytes);
    static QString parseCString(const QByteArray &bytes);
    // The same with the preferred encoding given, for callers that already read it.
    static QString parseCString(const QByteArray &bytes, unsigned preferred);

    // The six localised display names, in chooser order.
    static QStringList getAvailableEncodings();
    // "" for a value not in the table.
    static QString getEncodingDisplayName(unsigned value);
    // Stores the value of a localised display name; an unknown name stores nothing.
    static void setPreferedEncoding(const QString &displayName);

    // Whether the bytes (up to the first zero) are well-formed UTF-8.
    static bool isValidUtf8(const QByteArray &bytes);

    // One conversion with the encoding of a stored value; false when the value is unknown
    // or the bytes are invalid in it.
    static bool convert(const QByteArray &bytes, unsigned value, QString *out);
};
