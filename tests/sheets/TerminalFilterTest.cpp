#include "sheets/TerminalFilter.h"
#include "sheets/Transcript.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

namespace {

const QString esc = QStringLiteral("\x1b");

QString filtered(const QString& text)
{
    TerminalFilter filter;
    return filter.filter(text);
}

} // namespace

TEST(TerminalFilter, DropsWhatOnlyATerminalActsOnAndKeepsTheRest)
{
    struct Row {
        const char* what;
        QString output;
        QString shown;
    };
    const Row rows[] = {
        {"compose's erase-line before each line", esc + "[2Kweb-1  | ready\n" + esc + "[2Kweb-1  | up\n",
         "web-1  | ready\nweb-1  | up\n"},
        {"colours with parameters", esc + "[1;31merror" + esc + "[0m: " + esc + "[38;5;208mhot" + esc + "[m",
         "error: hot"},
        {"private mode and cursor moves", esc + "[?25l" + esc + "[3A" + esc + "[Gdone", "done"},
        {"a title ended by BEL", esc + "]0;build: step 3\x07" + "next", "next"},
        {"a link ended by ESC backslash", esc + "]8;;https://x.example\x1b\\label" + esc + "]8;;\x1b\\!",
         "label!"},
        {"a device control string", esc + "Pq#0;2;0;0;0\x1b\\after", "after"},
        {"charset and keypad sequences", esc + "(B" + esc + "=" + esc + "7text" + esc + "8", "text"},
        {"C1 forms of CSI and OSC", QStringLiteral(u"\u009b31mred\u009d0;t\u0007!"), "red!"},
        {"other control characters",
         QStringLiteral("a\x07"
                        "b\x08"
                        "c\x00"
                        "d\x7f"
                        "e\f"
                        "f\v"
                        "g"),
         "abcdefg"},
        {"line ends and tabs stay", "a\tb\r\nc\rd\n", "a\tb\r\nc\rd\n"},
        {"plain text, brackets and all, stays as it came",
         QStringLiteral(u"[2K] caf\u00e9 \U0001F600 ~ \u00a0"),
         QStringLiteral(u"[2K] caf\u00e9 \U0001F600 ~ \u00a0")},
        {"a sequence broken off by text keeps the text", esc + QStringLiteral(u"\u00e9t\u00e9"),
         QStringLiteral(u"\u00e9t\u00e9")},
        {"a line end inside a sequence still ends the line", esc + "[1\n;2mx", "\nx"},
        {"an unterminated title costs only its line", esc + "]0;lost title\nkept\n", "\nkept\n"},
        {"cancel ends a sequence",
         esc + "[12\x18"
               "3",
         "3"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(filtered(row.output), row.shown) << row.what;
}

// Output comes in reads of any size: however it is cut, the same text remains.
TEST(TerminalFilter, ASequenceCutBetweenReadsIsDroppedWhole)
{
    const QString output = esc + "[2Kweb-1  | " + esc + "[32mready" + esc + "[0m\n" + esc + "]0;t\x07" + esc +
                           "]8;;u\x1b\\x" + QStringLiteral(u"\u009b1m") + "y\n";
    const QString whole = filtered(output);
    EXPECT_EQ(whole, "web-1  | ready\nxy\n");
    for (qsizetype cut = 1; cut < output.size(); ++cut) {
        TerminalFilter filter;
        QString pieces = filter.filter(QStringView(output).first(cut));
        pieces += filter.filter(QStringView(output).sliced(cut));
        EXPECT_EQ(pieces, whole) << "cut at " << cut;
    }
    TerminalFilter byCharacter;
    QString oneByOne;
    for (const QChar c : output)
        oneByOne += byCharacter.filter(QStringView(&c, 1));
    EXPECT_EQ(oneByOne, whole);
}

// The transcript shows and keeps (for Copy and Save) the text without them, and starts afresh when
// cleared: an ESC left over from a replaced stream takes nothing of the next one.
TEST(TerminalFilter, TheTranscriptShowsAndKeepsTheCleanText)
{
    TestSupport::prepareWidgets();
    Transcript transcript(true);
    transcript.append(QString(esc + "[2Kweb-1  | ready\r" + esc));
    transcript.append(QStringLiteral("[2K\nweb-1  | up\n"));
    EXPECT_EQ(transcript.text(), "web-1  | ready\nweb-1  | up\n");
    EXPECT_EQ(transcript.toPlainText(), transcript.text());

    transcript.append(esc);
    transcript.clearText();
    transcript.append(QStringLiteral("[next]\n"));
    EXPECT_EQ(transcript.text(), "[next]\n");
}
