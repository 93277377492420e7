// Reader and evaluator cases kept as data: tests/theme/data/*.tl. A case is the input
// lines up to a result line; expectation lines are comments of the language itself.
//   ;=>TEXT   the printed result equals TEXT (ends the case)
//   ;=^TEXT   the printed result starts with TEXT (ends the case)
//   ;out>TEXT standard output contains TEXT     ;err>TEXT standard error contains TEXT
//   ;err=TEXT standard error is exactly TEXT (empty: nothing)
// In TEXT, "↵" stands for a newline. Lines starting with ";;" are notes. Every case must also leave no
// interpreter object alive.
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "theme/tl_test_util.h"

namespace {

struct Expectation {
    std::string kind;
    std::string text;
};

struct Case {
    int line = 0;
    std::string input;
    std::vector<Expectation> expectations;
};

std::string unescape(const std::string &text)
{
    static const std::string marker = "\u21b5";  // ↵
    std::string out = text;
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1))
        out.replace(at, marker.size(), "\n");
    return out;
}

std::vector<Case> parseCases(const std::string &path)
{
    std::ifstream in(path);
    std::vector<Case> cases;
    Case current;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        if (current.line == 0)
            current.line = number;
        if (line.rfind(";;", 0) == 0)
            continue;
        std::string tag = line.substr(0, 5);
        if (line.rfind(";=>", 0) == 0 || line.rfind(";=^", 0) == 0) {
            current.expectations.push_back({line.substr(0, 3), unescape(line.substr(3))});
            cases.push_back(current);
            current = Case();
        } else if (tag == ";out>" || tag == ";err>" || tag == ";err=") {
            current.expectations.push_back({tag, unescape(line.substr(5))});
        } else {
            current.input += line + "\n";
        }
    }
    return cases;
}

void check(const tltest::Outcome &outcome, const Case &c)
{
    for (const Expectation &e : c.expectations) {
        if (e.kind == ";=>") {
            EXPECT_EQ(outcome.value, e.text);
        } else if (e.kind == ";=^") {
            EXPECT_EQ(outcome.value.substr(0, e.text.size()), e.text) << outcome.value;
        } else if (e.kind == ";out>") {
            EXPECT_NE(outcome.streams.out.find(e.text), std::string::npos) << outcome.streams.out;
        } else if (e.kind == ";err>") {
            EXPECT_NE(outcome.streams.err.find(e.text), std::string::npos) << outcome.streams.err;
        } else if (e.kind == ";err=") {
            EXPECT_EQ(outcome.streams.err, e.text);
        }
    }
}

void runFile(const std::string &name, tltest::Outcome (*run)(const std::string &))
{
    std::string path = lmtest::sourceDir() + "/tests/theme/data/" + name;
    std::vector<Case> cases = parseCases(path);
    ASSERT_GT(cases.size(), 10u) << path;
    for (const Case &c : cases) {
        SCOPED_TRACE(name + ":" + std::to_string(c.line) + ": " + c.input);
        long live = tl_live_objects();
        tltest::Outcome outcome = run(c.input);
        check(outcome, c);
        EXPECT_EQ(tl_live_objects(), live) << "objects left alive";
    }
}

TEST(ThemeLanguageScripts, Reader)
{
    runFile("reader.tl", tltest::readAll);
}

TEST(ThemeLanguageScripts, Evaluator)
{
    runFile("evaluator.tl", tltest::load);
}

} // namespace
