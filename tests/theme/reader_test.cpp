// Ports and the reader where a script cannot say it: push-back limits, raw bytes, interning
// identity, nesting limits, files.
#include <string>

#include "support/test_support.h"
#include "theme/tl_test_util.h"

namespace {

TlObject *bytesPort(const std::string &bytes)
{
    return tl_port_open_bytes(bytes.data(), bytes.size());
}

TEST(ThemePorts, PushBackHoldsAHundredUnitsAndDropsTheRest)
{
    TlObject *port = bytesPort("z");
    for (int i = 0; i < 105; i++)
        tl_port_ungetc(port, 'A' + i % 26);
    tl_port_ungetc(port, TL_EOF);
    for (int i = 99; i >= 0; i--)
        ASSERT_EQ(tl_port_getc(port), 'A' + i % 26) << i;
    EXPECT_EQ(tl_port_getc(port), 'z');
    EXPECT_EQ(tl_port_getc(port), TL_EOF);
    EXPECT_EQ(tl_port_getc(port), TL_EOF);
    tl_release(port);
}

TEST(ThemePorts, InputDecodesUtf8IntoUnits)
{
    // Two- and three-byte sequences, a stray continuation byte, a four-byte sequence
    // (one 0, its continuation bytes skipped), a sequence cut by the end.
    TlObject *port = bytesPort("\xC3\xA9\xE2\x82\xAC\x80!\xF0\x9F\x98\x80?\xE2\x82");
    int expected[] = {0xE9, 0x20AC, 0, '!', 0, '?', 0, TL_EOF};
    for (int unit : expected)
        EXPECT_EQ(tl_port_getc(port), unit);
    tl_release(port);
}

TEST(ThemePorts, FilePortsOpenExistingFilesOnly)
{
    lmtest::TempDir dir;
    lmtest::writeFile(dir.file("t\xC3\xA9.thm"), std::string("\xC3\xA9 x"));
    TlObject *path = tl_string_from_utf8(dir.file("t\xC3\xA9.thm").c_str());
    TlObject *port = tl_port_open_file(path);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(tl_port_getc(port), 0xE9);
    tl_release(port);
    tl_release(path);

    TlObject *missing = tl_string_from_utf8(dir.file("none.thm").c_str());
    EXPECT_EQ(tl_port_open_file(missing), nullptr);
    TlInterp *interp = tl_interp_new();
    tltest::Captured streams = tltest::capture([&] { EXPECT_EQ(tl_load_file(interp, missing), nullptr); });
    EXPECT_EQ(streams.out + streams.err, "") << "an unopenable file is no error of its own";
    tl_interp_free(interp);
    tl_release(missing);
}

TEST(ThemePorts, StandardOutputEncodesUnitsAsUtf8)
{
    tltest::Captured streams = tltest::capture([] {
        TlObject *s = tl_string_from_utf8("\xC3\xA9\xE2\x82\xAC");
        TlObject *sym = tl_symbol_new(s);
        TlObject *out = tl_port_stdout();
        tl_print(sym, out);
        tl_release(out);
        tl_release(sym);
    });
    EXPECT_EQ(streams.out, "\xC3\xA9\xE2\x82\xAC");
}

TEST(ThemeReader, EqualTextsShareOneInternedString)
{
    TlInterp *interp = tl_interp_new();
    interp->pool = tl_hashmap_new();
    TlObject *port = bytesPort("(\"ab\" \"ab\" ab ab \"cd\")");
    TlObject *list = tl_read(interp, port);
    ASSERT_NE(list, nullptr);
    TlObject *items[5];
    for (int i = 0; i < 5; i++) {
        items[i] = tl_list_nth(list, i);
        ASSERT_NE(items[i], nullptr);
    }
    EXPECT_EQ(items[0], items[1]);
    EXPECT_EQ(tl_kind(items[2]), TL_SYMBOL);
    EXPECT_NE(items[2], items[3]) << "each symbol is its own object";
    EXPECT_EQ(tl_as_symbol(items[2])->name, tl_as_symbol(items[3])->name);
    EXPECT_EQ(tl_as_symbol(items[2])->name, items[0]) << "names and literals share the pool";
    EXPECT_NE(items[0], items[4]);
    for (TlObject *o : items)
        tl_release(o);
    tl_release(list);
    tl_release(port);
    tl_interp_free(interp);

    // Without a pool (outside a load) nothing is shared.
    port = bytesPort("\"ab\" \"ab\"");
    TlObject *a = tl_read(nullptr, port);
    TlObject *b = tl_read(nullptr, port);
    EXPECT_NE(a, b);
    EXPECT_TRUE(tl_equal(a, b));
    tl_release(a);
    tl_release(b);
    tl_release(port);
}

TEST(ThemeReader, CarriageReturnsEndCommentsAndUnicodeSpaceSeparates)
{
    EXPECT_EQ(tltest::readAll("; note\r5").value, "5");
    EXPECT_EQ(tltest::readAll("a\xC2\xA0" "b\xE3\x80\x80" "c").value, "a | b | c");
    EXPECT_EQ(tltest::readAll("\xEF\xBB\xBF'x").value, "(quote . x)") << "a byte-order mark is space";
    EXPECT_EQ(tltest::readAll("#\\\r").value, "<null>") << "only a blank is a blank character";
}

TEST(ThemeReader, DeepNestingIsRefusedNotOverflowed)
{
    long live = tl_live_objects();
    for (std::string open : {"(", "#(", "'"}) {
        std::string text(100000 * open.size(), ' ');
        for (size_t i = 0; i < 100000; i++)
            text.replace(i * open.size(), open.size(), open);
        tltest::Outcome outcome = tltest::readAll(text + "x");
        EXPECT_EQ(outcome.value, "<null>") << open;
        EXPECT_NE(outcome.streams.err.find("parser error: nesting too deep"), std::string::npos) << open;
    }
    // Nesting below the limit reads, prints and evaluates.
    std::string deep;
    for (int i = 0; i < TL_MAX_READ_DEPTH - 1; i++)
        deep += "(+ ";
    deep += "1";
    deep += std::string(TL_MAX_READ_DEPTH - 1, ')');
    EXPECT_EQ(tltest::load(deep).value, "1");
    std::string data = "'" + std::string(TL_MAX_READ_DEPTH - 2, '(') + std::string(TL_MAX_READ_DEPTH - 2, ')');
    EXPECT_EQ(tltest::load(data).value.substr(0, 4), "((((");
    EXPECT_EQ(tl_live_objects(), live);
}

TEST(ThemeReader, LongFlatInputReadsWithoutLimits)
{
    std::string list = "'(";
    for (int i = 0; i < 200000; i++)
        list += "1 ";
    list += ")";
    tltest::Outcome outcome = tltest::load(list);
    EXPECT_EQ(outcome.value.size(), 200000u * 6 + 2);
    std::string vec = "#(";
    for (int i = 0; i < 5000; i++)
        vec += "a ";
    EXPECT_EQ(tltest::load(vec + ")").value.size(), 5000u * 2 + 2);
}

} // namespace
