#include "library/character_encoding.h"

#include <cerrno>
#include <iconv.h>

#include <QCoreApplication>

#include "engine/lm_utf8.h"
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"

namespace {

struct EncodingEntry {
    const char *displayName;
    unsigned value;
    const char *iconvName;
};

// Chooser order. GB18030 is a superset of the GB2312/GBK texts found in the wild.
const EncodingEntry kEncodings[] = {
    {QT_TRANSLATE_NOOP("CharacterEncoding", "Western"), CharacterEncoding::Western, "MACINTOSH"},
    {QT_TRANSLATE_NOOP("CharacterEncoding", "Chinese Simplified"), CharacterEncoding::ChineseSimplified, "GB18030"},
    {QT_TRANSLATE_NOOP("CharacterEncoding", "Chinese Traditional"), CharacterEncoding::ChineseTraditional, "CP950"},
    {QT_TRANSLATE_NOOP("CharacterEncoding", "Japanese"), CharacterEncoding::Japanese, "CP932"},
    {QT_TRANSLATE_NOOP("CharacterEncoding", "Korean"), CharacterEncoding::Korean, "CP949"},
    {QT_TRANSLATE_NOOP("CharacterEncoding", "Russian"), CharacterEncoding::Russian, "CP1251"},
};

const EncodingEntry *entryForValue(unsigned value)
{
    for (const EncodingEntry &e : kEncodings)
        if (e.value == value)
            return &e;
    return nullptr;
}

QString displayName(const EncodingEntry &e)
{
    return QCoreApplication::translate("CharacterEncoding", e.displayName);
}

} // namespace

bool CharacterEncoding::convert(const QByteArray &bytes, unsigned value, QString *out)
{
    const EncodingEntry *e = entryForValue(value);
    if (e == nullptr)
        return false;
    iconv_t cd = iconv_open("UTF-8", e->iconvName);
    if (cd == (iconv_t)-1)
        return false;
    QByteArray result;
    result.resize(bytes.size() * 4 + 16);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char *outPtr = result.data();
    size_t outLeft = size_t(result.size());
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == (size_t)-1) {
            if (errno == E2BIG) {
                // Cannot happen with 4 bytes of room per input byte; refuse rather than loop.
                ok = false;
            } else {
                ok = false;   // EILSEQ, or EINVAL for a sequence cut short at the end
            }
            break;
        }
    }
    if (ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == (size_t)-1)
        ok = false;
    iconv_close(cd);
    if (!ok)
        return false;
    result.resize(result.size() - qsizetype(outLeft));
    *out = QString::fromUtf8(result);
    return true;
}

static bool isWellFormedUtf8(const QByteArray &bytes)
{
    return LMUtf8IsValid(bytes.constData(), size_t(bytes.size()));
}

// The text runs up to its first zero byte.
static QByteArray upToZero(const QByteArray &raw)
{
    qsizetype zero = raw.indexOf('\0');
    return zero >= 0 ? raw.left(zero) : raw;
}

bool CharacterEncoding::isValidUtf8(const QByteArray &raw)
{
    return isWellFormedUtf8(upToZero(raw));
}

QString CharacterEncoding::parseCString(const char *bytes)
{
    if (bytes == nullptr)
        return QStringLiteral("");
    return parseCString(QByteArray(bytes));
}

QString CharacterEncoding::parseCString(const QByteArray &raw)
{
    // Decide UTF-8 before touching the store: most texts are UTF-8 and need no lookup.
    QByteArray bytes = upToZero(raw);
    if (isWellFormedUtf8(bytes))
        return QString::fromUtf8(bytes);
    return parseCString(bytes, unsigned(UserDefaults::integerForKey(SettingsKeys::PreferedEnc)));
}

QString CharacterEncoding::parseCString(const QByteArray &raw, unsigned preferred)
{
    QByteArray bytes = upToZero(raw);
    if (isWellFormedUtf8(bytes))
        return QString::fromUtf8(bytes);
    const unsigned table[] = {preferred, Western, ChineseSimplified, ChineseTraditional, Japanese, Korean, Russian};
    for (size_t i = 0; i < sizeof table / sizeof table[0]; i++) {
        if (i > 0 && table[i] == preferred)
            continue;
        QString s;
        if (convert(bytes, table[i], &s) && !s.isEmpty())
            return s;
    }
    return QStringLiteral("");
}

QStringList CharacterEncoding::getAvailableEncodings()
{
    QStringList names;
    for (const EncodingEntry &e : kEncodings)
        names << displayName(e);
    return names;
}

QString CharacterEncoding::getEncodingDisplayName(unsigned value)
{
    const EncodingEntry *e = entryForValue(value);
    return e ? displayName(*e) : QStringLiteral("");
}

void CharacterEncoding::setPreferedEncoding(const QString &name)
{
    for (const EncodingEntry &e : kEncodings) {
        if (displayName(e) == name) {
            UserDefaults::setInteger(SettingsKeys::PreferedEnc, e.value);
            return;
        }
    }
}
