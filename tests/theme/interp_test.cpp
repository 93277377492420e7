// The interpreter record across loads: bindings left behind, recovery after fatal errors,
// loading from files.
#include <string>

#include "support/test_support.h"
#include "theme/tl_test_util.h"

namespace {

TlObject *loadInto(TlInterp *interp, const std::string &source, tltest::Captured *streams = nullptr)
{
    TlObject *result = nullptr;
    tltest::Captured captured = tltest::capture([&] {
        TlObject *port = tl_port_open_bytes(source.data(), source.size());
        result = tl_load_port(interp, port);
        tl_release(port);
    });
    if (streams)
        *streams = captured;
    return result;
}

std::string globalValue(TlInterp *interp, const char *name)
{
    TlObject *sym = tl_symbol_from_cstring(name);
    TlObject *value = tl_hashmap_get(tl_as_scope(interp->global)->map, sym);
    std::string text = tltest::printed(value);
    tl_release(value);
    tl_release(sym);
    return text;
}

TEST(ThemeInterp, AMissingValueNeverReplacesABinding)
{
    TlInterp *interp = tl_interp_new();
    TlObject *result = loadInto(interp, "(define x 1) (define x nowhere)");
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(globalValue(interp, "x"), "1");
    // A missing argument is never bound to a parameter either.
    result = loadInto(interp, "(define (f a b) (define seen b)) (f nowhere 2)");
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(globalValue(interp, "seen"), "<null>");
    tl_interp_free(interp);
}

TEST(ThemeInterp, AFatalErrorLeavesTheInterpreterAtTopLevel)
{
    long live = tl_live_objects();
    TlInterp *interp = tl_interp_new();
    tltest::Captured streams;
    // Fail three calls deep, with argument lists and parameter scopes in flight.
    TlObject *result = loadInto(interp,
                                "(define (a x) (+ 1 (b x 2)))"
                                "(define (b x y) (* y (c x)))"
                                "(define (c x) (+ x (boom x)))"
                                "(a 1)",
                                &streams);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(streams.err, "error: object is not procedure\n");
    EXPECT_EQ(streams.out, "#SCOPE(#HASHMAP((x . 1)))\n");
    EXPECT_EQ(interp->current, interp->global);
    EXPECT_EQ(interp->held_count, 0);
    EXPECT_EQ(interp->depth, 0);

    // The same interpreter loads again, with the bindings of before.
    result = loadInto(interp, "(define (boom x) 10) (a 1)");
    EXPECT_EQ(tltest::printed(result), "23");
    tl_release(result);
    tl_interp_free(interp);
    EXPECT_EQ(tl_live_objects(), live);
}

TEST(ThemeInterp, ValuesOutliveTheirInterpreter)
{
    long live = tl_live_objects();
    TlInterp *interp = tl_interp_new();
    TlObject *proc = loadInto(interp, "(define (f a) (define (g) a) g) (f 5)");
    ASSERT_TRUE(tl_is(proc, TL_PROCEDURE));
    tl_interp_free(interp);
    EXPECT_EQ(tltest::printed(proc).rfind("#PROCEDURE(", 0), 0u);
    tl_release(proc);
    EXPECT_EQ(tl_live_objects(), live);
}

TEST(ThemeInterp, LoadsFilesAndEndsAtTheirLastValue)
{
    lmtest::TempDir dir;
    lmtest::writeFile(dir.file("a.thm"), std::string("(define a 2)\n; colours\n'((k . \"v\"))\n"));
    TlInterp *interp = tl_interp_new();
    TlObject *path = tl_string_from_utf8(dir.file("a.thm").c_str());
    TlObject *result = tl_load_file(interp, path);
    EXPECT_EQ(tltest::printed(result), "((k . \"v\") . ())");
    EXPECT_EQ(globalValue(interp, "a"), "2");
    EXPECT_EQ(interp->pool, nullptr) << "the string pool lives only during a load";
    tl_release(result);
    tl_release(path);
    tl_interp_free(interp);
}

} // namespace
