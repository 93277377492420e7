#include "library/character_encoding.h"
#include "library/settings_keys.h"
#include "platform/core/user_defaults.h"
#include "support/test_support.h"

namespace {

class CharacterEncodingTest : public ::testing::Test {
protected:
    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
};

TEST_F(CharacterEncodingTest, Utf8AndAsciiIgnoreTheChoice)
{
    const QByteArray utf8 = "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac";
    for (unsigned enc : {0u, 25u, 2u, 1u, 3u, 1282u}) {
        UserDefaults::setInteger(SettingsKeys::PreferedEnc, enc);
        EXPECT_EQ(CharacterEncoding::parseCString(utf8), QString::fromUtf8(utf8)) << enc;
        EXPECT_EQ(CharacterEncoding::parseCString("plain ascii"), QStringLiteral("plain ascii"));
    }
}

TEST_F(CharacterEncodingTest, LegacyTextFollowsTheChosenEncoding)
{
    const QByteArray cp1251 = "\xcf\xf0\xe8\xe2\xe5\xf2";   // "Привет"
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Russian);
    EXPECT_EQ(CharacterEncoding::parseCString(cp1251), QString::fromUtf8("Привет"));
    UserDefaults::removeObjectForKey(SettingsKeys::PreferedEnc);   // absent: Western (Mac Roman)
    EXPECT_EQ(CharacterEncoding::parseCString(cp1251).left(1), QString::fromUtf8("œ"));   // Mac Roman 0xCF
    EXPECT_EQ(CharacterEncoding::parseCString(QByteArray("\x8e\x85")), QString::fromUtf8("éÖ"));
    const QByteArray sjis = "\x93\xfa\x96\x7b";   // "日本"
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Japanese);
    EXPECT_EQ(CharacterEncoding::parseCString(sjis), QString::fromUtf8("日本"));
}

TEST_F(CharacterEncodingTest, InvalidSequenceFallsBackInsteadOfFailing)
{
    // 0x85 0x20 is not Shift_JIS (lead byte without a valid trail), so Western answers.
    UserDefaults::setInteger(SettingsKeys::PreferedEnc, CharacterEncoding::Japanese);
    QString s = CharacterEncoding::parseCString(QByteArray("\x85\x20", 2));
    EXPECT_EQ(s, QString::fromUtf8("Ö "));   // Mac Roman 0x85
    EXPECT_EQ(CharacterEncoding::parseCString(QByteArray()), QStringLiteral(""));
    EXPECT_EQ(CharacterEncoding::parseCString(static_cast<const char *>(nullptr)), QStringLiteral(""));
    // The text ends at its first zero byte.
    EXPECT_EQ(CharacterEncoding::parseCString(QByteArray("ab\0cd", 5)), QStringLiteral("ab"));
}

TEST_F(CharacterEncodingTest, DisplayNamesAndStoredChoice)
{
    EXPECT_EQ(CharacterEncoding::getAvailableEncodings(),
              QStringList({"Western", "Chinese Simplified", "Chinese Traditional", "Japanese", "Korean", "Russian"}));
    EXPECT_EQ(CharacterEncoding::getEncodingDisplayName(1282), QStringLiteral("Russian"));
    EXPECT_EQ(CharacterEncoding::getEncodingDisplayName(7), QStringLiteral(""));
    CharacterEncoding::setPreferedEncoding(QStringLiteral("Korean"));
    EXPECT_EQ(UserDefaults::integerForKey(SettingsKeys::PreferedEnc), 3);
    CharacterEncoding::setPreferedEncoding(QStringLiteral("Klingon"));
    EXPECT_EQ(UserDefaults::integerForKey(SettingsKeys::PreferedEnc), 3);
}

} // namespace
