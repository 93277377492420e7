// Values of the theme language: strings, equality, hashing, list walks, reference counts.
#include <cstring>
#include <string>

#include "support/test_support.h"
#include "theme/tl_test_util.h"

namespace {

std::u16string units(TlObject *string)
{
    TlString *s = tl_as_string(string);
    return std::u16string(reinterpret_cast<char16_t *>(s->units), static_cast<size_t>(s->length));
}

std::string utf8(TlObject *string)
{
    char *text = tl_string_to_utf8(string);
    std::string s(text);
    free(text);
    return s;
}

TEST(ThemeObjects, Utf8DecodesToUnitsAndBack)
{
    TlObject *s = tl_string_from_utf8("a\xC3\xA9\xE2\x82\xAC");  // a, e acute, euro sign
    EXPECT_EQ(units(s), std::u16string(u"a\u00e9\u20ac"));
    EXPECT_EQ(utf8(s), "a\xC3\xA9\xE2\x82\xAC");
    tl_release(s);

    // Outside the 16-bit range: the four-byte sequence becomes one unit 0.
    s = tl_string_from_utf8("x\xF0\x9F\x98\x80y");
    EXPECT_EQ(units(s), std::u16string(u"x\0y", 3));
    tl_release(s);
    // Stray continuation bytes and sequences cut short by the end give 0, never overrun.
    s = tl_string_from_utf8("\x80z\xE2\x82");
    EXPECT_EQ(units(s), std::u16string(u"\0z\0", 3));
    tl_release(s);
    s = tl_string_from_utf8("\xF0\x9F");
    EXPECT_EQ(units(s), std::u16string(u"\0", 1));
    tl_release(s);
}

TEST(ThemeObjects, EqualityByKind)
{
    TlObject *one = tl_integer_new(1);
    TlObject *oneAgain = tl_integer_new(1);
    TlObject *oneReal = tl_real_new(1.0f);
    TlObject *str = tl_string_from_utf8("ab");
    TlObject *strAgain = tl_string_from_utf8("ab");
    TlObject *sym = tl_symbol_from_cstring("ab");
    TlObject *symAgain = tl_symbol_from_cstring("ab");
    EXPECT_TRUE(tl_equal(one, oneAgain));
    EXPECT_FALSE(tl_equal(one, oneReal)) << "an integer never equals a real";
    EXPECT_TRUE(tl_equal(str, strAgain));
    EXPECT_TRUE(tl_equal(sym, symAgain));
    EXPECT_FALSE(tl_equal(str, sym));
    EXPECT_EQ(tl_hash(str), tl_hash(sym)) << "a symbol hashes as its name";
    EXPECT_FALSE(tl_equal(one, nullptr));

    // Pairs only by identity for keys, by structure when deep.
    TlObject *a = tl_pair_new(tl_retain(sym), tl_pair_new(tl_retain(one), tl_nil()));
    TlObject *b = tl_pair_new(tl_retain(symAgain), tl_pair_new(tl_retain(oneAgain), tl_nil()));
    EXPECT_FALSE(tl_equal(a, b));
    EXPECT_TRUE(tl_equal_deep(a, b));
    tl_release(tl_as_pair(tl_as_pair(b)->cdr)->car);
    tl_as_pair(tl_as_pair(b)->cdr)->car = tl_retain(oneReal);
    EXPECT_FALSE(tl_equal_deep(a, b));
    for (TlObject *o : {one, oneAgain, oneReal, str, strAgain, sym, symAgain, a, b})
        tl_release(o);
}

TEST(ThemeObjects, HashesMatchTheirReferenceValues)
{
    // Values of the published algorithms, computed independently.
    auto sfh = [](const char *bytes, size_t n) {
        return tl_hash_superfast(reinterpret_cast<const uint8_t *>(bytes), static_cast<int32_t>(n));
    };
    EXPECT_EQ(sfh("", 0), 0u);
    EXPECT_EQ(sfh("a", 1), 0x115ea782u);
    EXPECT_EQ(sfh("ab", 2), 0x516b8b44u);
    EXPECT_EQ(sfh("abc", 3), 0xd2be198au);
    EXPECT_EQ(sfh("abcd", 4), 0xdad8b8dbu);
    EXPECT_EQ(sfh("hello world", 11), 0xa68c6882u);
    EXPECT_EQ(sfh("\xfe", 1), 0x7ffaa939u) << "trailing bytes are signed";
    EXPECT_EQ(sfh("ab\xff", 3), 0xc25f0954u);
    EXPECT_EQ(tl_hash_wang(0), 0x4636b9c9u);
    EXPECT_EQ(tl_hash_wang(1), 0x62baf5a0u);
    EXPECT_EQ(tl_hash_wang(12345), 0x744b8103u);
    EXPECT_EQ(tl_hash_wang(0xFFFFFFFFu), 0xdc8b039au);

    TlObject *sym = tl_symbol_from_cstring("define");  // units as little-endian bytes
    EXPECT_EQ(tl_hash(sym), 0xe3b2842eu);
    TlObject *real = tl_real_new(1.5f);
    EXPECT_EQ(tl_hash(real), 0x1b32490du) << "a real hashes by its bit pattern";
    TlObject *integer = tl_integer_new(12345);
    EXPECT_EQ(tl_hash(integer), 0x744b8103u);
    EXPECT_EQ(tl_hash(tl_true()), 0u);
    for (TlObject *o : {sym, real, integer})
        tl_release(o);
}

TEST(ThemeObjects, ListWalksStopAtEmptySlotsAndCountDottedTails)
{
    // (1 2 . 3)
    TlObject *list = tl_pair_new(tl_integer_new(1), tl_pair_new(tl_integer_new(2), tl_integer_new(3)));
    TlObject *third = tl_list_nth(list, 2);
    EXPECT_EQ(tltest::printed(third), "3");
    tl_release(third);
    EXPECT_EQ(tl_list_nth(list, 3), nullptr);
    EXPECT_EQ(tl_list_nth(list, -1), nullptr);
    tl_release(list);

    // (1 () 2): the walk ends at the empty list.
    list = tl_pair_new(tl_integer_new(1), tl_pair_new(tl_nil(), tl_pair_new(tl_integer_new(2), tl_nil())));
    EXPECT_EQ(tl_list_nth(list, 1), nullptr);
    tl_release(list);
}

TEST(ThemeObjects, NumberValuesTruncateAndSaturate)
{
    struct { float in; int32_t out; } cases[] = {
        {127.9f, 127}, {-127.9f, -127}, {0.5f, 0}, {1e20f, INT32_MAX}, {-1e20f, INT32_MIN},
        {__builtin_inff(), INT32_MAX}, {__builtin_nanf(""), 0},
    };
    for (auto c : cases) {
        TlObject *r = tl_real_new(c.in);
        EXPECT_EQ(tl_number_value(r), c.out) << c.in;
        tl_release(r);
    }
    TlObject *s = tl_string_from_utf8("7");
    EXPECT_EQ(tl_number_value(s), 0);
    tl_release(s);
}

TEST(ThemeObjects, LongListsAndDeepScopesFreeWithoutDeepRecursion)
{
    long live = tl_live_objects();
    TlObject *list = tl_nil();
    for (int i = 0; i < 2000000; i++)
        list = tl_pair_new(tl_integer_new(i), list);
    TlObject *scope = tl_scope_new(nullptr, nullptr);
    for (int i = 0; i < 200000; i++) {
        TlObject *child = tl_scope_new(nullptr, scope);
        tl_release(scope);
        scope = child;
    }
    TlObject *first = tl_list_nth(list, 0);
    EXPECT_EQ(tltest::printed(first), "1999999");
    tl_release(first);
    tl_release(list);
    tl_release(scope);
    EXPECT_EQ(tl_live_objects(), live);
}

TEST(ThemeObjects, PrinterFormsNotReachedByTheReader)
{
    TlObject *vec = tl_vector_new();
    tl_vector_push(vec, tl_char_new('\r'));
    tl_vector_push(vec, nullptr);
    tl_vector_push(vec, tl_port_stdout());
    EXPECT_EQ(tltest::printed(vec), "#(#\\newline <null> )");
    tl_release(vec);
}

} // namespace
