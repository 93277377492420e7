// The hash map behind scopes and the string pool: growth points, replacement, large maps.
#include "support/test_support.h"
#include "theme/tl_test_util.h"

namespace {

int32_t capacity(TlObject *map) { return tl_as_hashmap(map)->capacity; }
int32_t count(TlObject *map) { return tl_as_hashmap(map)->count; }

void putInt(TlObject *map, int32_t key, int32_t value)
{
    TlObject *k = tl_integer_new(key);
    TlObject *v = tl_integer_new(value);
    tl_hashmap_put(map, k, v);
    tl_release(k);
    tl_release(v);
}

int32_t getInt(TlObject *map, int32_t key, bool *found)
{
    TlObject *k = tl_integer_new(key);
    TlObject *v = tl_hashmap_get(map, k);
    tl_release(k);
    *found = v != nullptr;
    int32_t value = tl_number_value(v);
    tl_release(v);
    return value;
}

TEST(ThemeHashmap, GrowsOnlyWhenAlmostFull)
{
    TlObject *map = tl_hashmap_new();
    EXPECT_EQ(capacity(map), 7);
    for (int i = 0; i < 7; i++)
        putInt(map, i, i);
    EXPECT_EQ(capacity(map), 7) << "7 / 10 = 0: a map of 7 grows only when no slot is free";
    EXPECT_EQ(count(map), 7);
    putInt(map, 7, 7);
    EXPECT_EQ(capacity(map), 13);
    for (int i = 8; i < 12; i++)
        putInt(map, i, i);
    EXPECT_EQ(capacity(map), 13);
    EXPECT_EQ(count(map), 12);
    putInt(map, 12, 12);  // 13 - 12 = 1 <= 13 / 10
    EXPECT_EQ(capacity(map), 31);
    for (int i = 0; i < 13; i++) {
        bool found;
        EXPECT_EQ(getInt(map, i, &found), i);
        EXPECT_TRUE(found);
    }
    tl_release(map);
}

TEST(ThemeHashmap, ReplacingAValueKeepsTheCountAndReleasesTheOld)
{
    long live = tl_live_objects();
    TlObject *map = tl_hashmap_new();
    for (int i = 0; i < 7; i++)
        putInt(map, 1, i);
    EXPECT_EQ(count(map), 1);
    bool found;
    EXPECT_EQ(getInt(map, 1, &found), 6);
    getInt(map, 2, &found);
    EXPECT_FALSE(found);
    // Null keys and values are refused rather than stored.
    TlObject *key = tl_integer_new(3);
    tl_hashmap_put(map, key, nullptr);
    tl_hashmap_put(map, nullptr, key);
    EXPECT_EQ(count(map), 1);
    tl_release(key);
    tl_release(map);
    EXPECT_EQ(tl_live_objects(), live);
}

TEST(ThemeHashmap, EqualKeysOfDifferentObjectsMeet)
{
    TlObject *map = tl_hashmap_new();
    TlObject *a = tl_string_from_utf8("colour");
    TlObject *b = tl_string_from_utf8("colour");
    TlObject *sym = tl_symbol_from_cstring("colour");
    tl_hashmap_put(map, a, a);
    TlObject *got = tl_hashmap_get(map, b);
    EXPECT_EQ(got, a);
    EXPECT_EQ(tl_hashmap_get(map, sym), nullptr) << "a symbol is not its name string";
    for (TlObject *o : {got, a, b, sym, map})
        tl_release(o);
}

TEST(ThemeHashmap, LargeMapsKeepEveryKeyPastTheNonPrimeSizes)
{
    // 300000 keys pass the sizes 262143 and 524287; the first is not prime, so some probe
    // sequences cover only part of it.
    auto key = [](int i) { return static_cast<int32_t>(static_cast<uint32_t>(i) * 7919u); };
    TlObject *map = tl_hashmap_new();
    const int n = 300000;
    for (int i = 0; i < n; i++)
        putInt(map, key(i), i);
    EXPECT_EQ(count(map), n);
    EXPECT_EQ(capacity(map), 524287);
    int missing = 0;
    for (int i = 0; i < n; i++) {
        bool found;
        if (getInt(map, key(i), &found) != i || !found)
            missing++;
    }
    EXPECT_EQ(missing, 0);
    tl_release(map);
}

} // namespace
