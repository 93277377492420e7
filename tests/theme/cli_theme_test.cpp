// lumenar-cli theme: the value, then one answer line per key.
#include "support/test_support.h"

namespace {

TEST(CliTheme, AnswersKeysOfTheDefaultTheme)
{
    lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "theme", lmtest::sourceDir() + "/data/theme/iPhone/Plain.thm",
                                       "list-title-color", "list-subtitle-color", "scroll-indicator",
                                       "list-inset-portrait", "background-image-portrait"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    size_t firstLine = r.out.find('\n');
    ASSERT_NE(firstLine, std::string::npos);
    EXPECT_EQ(r.out.rfind("((list-background-color . (255 . (255 . (255 . ())))) . ", 0), 0u);
    EXPECT_EQ(r.out.substr(firstLine + 1),
              "list-title-color color 0.0000 0.0000 0.0000 1.0000\n"
              "list-subtitle-color color 0.5020 0.5020 0.5020 1.0000\n"
              "scroll-indicator bool true\n"
              "list-inset-portrait <none>\n"
              "background-image-portrait <none>\n");
}

TEST(CliTheme, TypedAnswersOfEveryForm)
{
    lmtest::TempDir dir;
    lmtest::writeFile(dir.file("t.thm"), std::string("'((list-inset-landscape 1 2.9 3 4) (background-image-portrait . \"a b\")"
                                                     " (list-title-color 255 0 0 128) (list-separator-color . 5)"
                                                     " (scroll-indicator . 1) (flag . #f) (name . \"n\"))"));
    lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "theme", dir.file("t.thm"), "list-inset-landscape",
                                       "background-image-portrait", "list-title-color", "list-separator-color",
                                       "scroll-indicator", "flag", "name", "missing"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1),
              "list-inset-landscape insets 1 2 3 4\n"
              "background-image-portrait string a b\n"
              "list-title-color color 1.0000 0.0000 0.0000 0.5020\n"
              "list-separator-color <none>\n"
              "scroll-indicator bool false\n"
              "flag bool false\n"
              "name string n\n"
              "missing <none>\n");
}

TEST(CliTheme, FailuresPrintNullAndKeepTheirDiagnostics)
{
    lmtest::TempDir dir;
    lmtest::writeFile(dir.file("bad.thm"), std::string("(foo 1)"));
    lmtest::RunResult r = lmtest::run({lmtest::cliPath(), "theme", dir.file("bad.thm"), "list-title-color"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: object is not procedure\n");
    EXPECT_EQ(r.out.rfind("#SCOPE(#HASHMAP(", 0), 0u);
    EXPECT_NE(r.out.find(")\n<null>\nlist-title-color <none>\n"), std::string::npos) << r.out;

    r = lmtest::run({lmtest::cliPath(), "theme", dir.file("none.thm")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "<null>\n");
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);

    r = lmtest::run({lmtest::cliPath(), "theme"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: lumenar-cli theme FILE [KEY...]"), std::string::npos);
}

} // namespace
