#include "engine/EnvFile.h"
#include "engine/ComposeVariables.h"

#include "support/TestSupport.h"

using Docker::Variable;
using Docker::Variables;

// compose's forms, each as compose fills it in; a value that is not known here is cut where it
// begins, with what came before it and the variable not set here that cut it.
TEST(Interpolation, EachFormAsComposeFillsItIn)
{
    const Variables env{{"SET", {"/s", true}},
                        {"EMPTY", {"", true}},
                        {"DATA", {"/data", true}},
                        {"PART", {"/p/", false, "BASE"}},
                        {"PARTEMPTY", {"", false, "ROOT"}}};
    const struct {
        QString text;
        std::optional<QString> filled;
        QString known;
        QString missing = {};
    } rows[] = {
        {"${SET}/x", "/s/x", ""},
        {"$SET/x", "/s/x", ""},
        {"${EMPTY:-/d}", "/d", ""}, // set but empty is absent for the forms with a colon
        {"${EMPTY-/d}", "", ""},    // and present for those without
        {"${UNSET:-/d}", "/d", ""},
        {"${UNSET-/d}", "/d", ""},
        {"${SET:-/d}", "/s", ""},
        {"${SET:+/alt}", "/alt", ""},
        {"${EMPTY:+/alt}", "", ""},
        {"${EMPTY+/alt}", "/alt", ""},
        {"${UNSET+/alt}", "", ""},
        {"${UNSET:-${EMPTY:-${SET}/n}}", "/s/n", ""},
        {"${UNSET:-{a}}", "{a}", ""}, // only "${" opens a form: the first "}" closes it
        {"$$SET and $ alone, $1", "$SET and $ alone, $1", ""},
        {"/a/${UNSET}/b", std::nullopt, "/a/", "UNSET"},
        {"/a/${UNSET:?needed}", std::nullopt, "/a/", "UNSET"},
        {"${EMPTY:?needed}", std::nullopt, "", "EMPTY"},
        {"${EMPTY?needed}/x", "/x", ""},
        {"/a${PART}x", std::nullopt, "/a/p/", "BASE"},
        {"/a$PART/x", std::nullopt, "/a/p/", "BASE"},
        {"${PART:-/d}", std::nullopt, "/p/", "BASE"},
        {"${PARTEMPTY:-/d}", std::nullopt, "", "ROOT"}, // whether it is empty is not known
        {"${PARTEMPTY-/d}", std::nullopt, "", "ROOT"},
        {"${PART:+/alt}", "/alt", ""},
        {"${UNSET:-${OTHER}/d}", std::nullopt, "", "OTHER"},
        // An unbraced name takes every name character there is: DATA is set, DATA_DIR is not.
        {"$DATA_DIR/x", std::nullopt, "", "DATA_DIR"},
        {"$DATA/x", "/data/x", ""},
        {"$DATA.d/x", "/data.d/x", ""},
        {"${}", std::nullopt, ""},
        {"/x${SET", std::nullopt, "/x"},
    };
    for (const auto& row : rows) {
        QString known;
        QString missing;
        EXPECT_EQ(Docker::interpolated(row.text, env, &known, &missing), row.filled)
            << row.text.toStdString();
        if (!row.filled) {
            EXPECT_EQ(known, row.known) << row.text.toStdString();
            EXPECT_EQ(missing, row.missing) << row.text.toStdString();
        }
    }
}

// An env file read line by line as compose reads it: what each line sets, and what compose refuses.
TEST(EnvFile, LinesAsComposeReadsThem)
{
    const Variables shell{{"SHELLVAR", {"/shell", true}}, {"BASE", {"/shell-base", true}}};
    const struct {
        QString text;
        QString key;
        std::optional<Variable> value; // none: not set at all
    } rows[] = {
        {"A=1", "A", Variable{"1"}},
        {"  A = 1  ", "A", Variable{"1"}},
        {"A: 1", "A", Variable{"1"}},
        {"export A=/e", "A", Variable{"/e"}},
        {"export A=", "A", Variable{""}},
        {"export\tA=x", "A", Variable{"x"}},
        {"A=", "A", Variable{""}},
        {"A=/x/b.env # shared", "A", Variable{"/x/b.env"}},
        {"A=/x#not-a-comment", "A", Variable{"/x#not-a-comment"}},
        {"A=\"/x/b.env\" # shared", "A", Variable{"/x/b.env"}},
        {"A=\"/x # kept\"", "A", Variable{"/x # kept"}},
        {"A='/x/$SHELLVAR'", "A", Variable{"/x/$SHELLVAR"}},
        {"A=\"/x/$SHELLVAR\"", "A", Variable{"/x//shell"}},
        {"A=/x/${SHELLVAR}", "A", Variable{"/x//shell"}},
        {"A=\"/x\\t\\\"y\\\"\\\\\"", "A", Variable{"/x\t\"y\"\\"}},
        {"A='Let\\'s \\t go'", "A", Variable{"Let's \\t go"}},
        {"A=\"\\$SHELLVAR\"", "A", Variable{"$SHELLVAR"}},
        {"A=\"\\0101\\a\\c\"", "A", Variable{"A\a\\c"}},
        {"A=un\\tquoted", "A", Variable{"un\\tquoted"}},
        {"A=\"one\ntwo\"", "A", Variable{"one\ntwo"}},
        {"A='one\ntwo'\nB=3", "B", Variable{"3"}},
        {"# A=1\n\n   # B=2\nA=3", "A", Variable{"3"}},
        {"SHELLVAR\n", "SHELLVAR", Variable{"/shell"}}, // a lone key takes what the shell has
        {"NOWHERE\nA=1", "NOWHERE", std::nullopt},
        {"A=${UNSET}/x", "A", Variable{"", false, "UNSET"}},
        {"A=/a/${UNSET}/x", "A", Variable{"/a/", false, "UNSET"}},
        {"B=${UNSET}/b\nA=$B/x", "A", Variable{"", false, "UNSET"}}, // cut where B was
        {"A=${UNSET:-/d}/x", "A", Variable{"/d/x"}},
        {"E=\nA=${E:-/d}", "A", Variable{"/d"}},
        {"E=\nA=${E-/d}", "A", Variable{""}},
        // The lines before fill in what follows; the shell's values come first.
        {"B=/x\nA=${B}/b.env", "A", Variable{"/x/b.env"}},
        {"BASE=/file\nA=${BASE}/c", "A", Variable{"/shell-base/c"}},
        {"\xEF\xBB\xBF"
         "A=1",
         "A", Variable{"1"}},
    };
    for (const auto& row : rows) {
        const Docker::EnvFileParse parse =
            Docker::parseEnvFile(QString::fromUtf8(row.text.toUtf8()), Docker::lookupIn(shell));
        EXPECT_EQ(parse.refusal, std::nullopt) << row.text.toStdString();
        const auto found = parse.values.constFind(row.key);
        EXPECT_EQ(found == parse.values.cend() ? std::nullopt : std::optional<Variable>(*found), row.value)
            << row.text.toStdString();
    }

    const Variables none;
    for (const char* refused : {"A B=1", "A$=1", "A=\"unterminated\nB=2", "A='open"})
        EXPECT_TRUE(Docker::parseEnvFile(QString::fromUtf8(refused), Docker::lookupIn(none)).refusal)
            << refused;
}
