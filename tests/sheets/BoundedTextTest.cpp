#include "sheets/BoundedText.h"
#include "sheets/Transcript.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

TEST(BoundedText, CountsWhatAReaderSeesHoweverTheTextArrives)
{
    struct Row {
        const char* what;
        QStringList pieces;
        qsizetype expected;
    };
    const Row rows[] = {
        {"plain text", {"abc", "de\n"}, 6},
        {"carriage return and line feed in one piece", {"a\r\nb"}, 3},
        {"carriage return and line feed split", {"a\r", "\nb"}, 3},
        {"split line end, then an accent for the letter after it",
         {"a\r", "\nbc", QStringLiteral(u"\u0301")},
         4},
        {"accent in the next piece", {"caf", QStringLiteral(u"e"), QStringLiteral(u"\u0301!")}, 5},
        {"flag split between its letters",
         {QStringLiteral(u"\U0001F1E9"), QStringLiteral(u"\U0001F1EA\U0001F1EB")},
         2},
        {"family joined across pieces",
         {QStringLiteral(u"\U0001F468\u200D"), QStringLiteral(u"\U0001F469\u200D\U0001F467"), "x"},
         2},
        {"text before a combining mark that is plain", {QStringLiteral(u"a\u0300"), "b"}, 2},
        {"prepended mark joins the plain text after it", {QStringLiteral(u"\u0600"), "1"}, 1},
    };
    for (const Row& row : rows) {
        BoundedText text(false);
        for (const QString& piece : row.pieces)
            text.append(piece);
        EXPECT_EQ(text.characters(), row.expected) << row.what;
        EXPECT_EQ(text.characters(), BoundedText::countCharacters(text.text())) << row.what;
    }
}

TEST(BoundedText, KeepsTheLimitAndCutsPastItToItsLastPart)
{
    for (const QString& unit : {QStringLiteral("x"), QStringLiteral(u"e\u0301")}) {
        BoundedText text;
        QString whole;
        for (int i = 0; i < BoundedText::limit; ++i)
            whole += unit;
        EXPECT_EQ(text.append(whole.first(whole.size() - unit.size())), 0);
        EXPECT_EQ(text.append(unit), 0) << "exactly the limit is kept";
        EXPECT_EQ(text.characters(), BoundedText::limit);

        const qsizetype cut = text.append(QStringLiteral("!"));
        EXPECT_EQ(cut, (BoundedText::limit - BoundedText::keep + 1) * unit.size());
        EXPECT_EQ(text.characters(), BoundedText::keep);
        EXPECT_EQ(BoundedText::countCharacters(text.text()), BoundedText::keep);
        EXPECT_TRUE(text.text().startsWith(unit)) << "the cut falls between characters";
        EXPECT_TRUE(text.text().endsWith(unit + u'!'));
    }
}

TEST(Transcript, ShowsExactlyItsTextAcrossLineEndsAndCuts)
{
    TestSupport::prepareWidgets();
    Transcript transcript(true);
    transcript.append(QStringLiteral("one\r"));
    transcript.append(QStringLiteral("\ntwo\rthree\r\n"));
    EXPECT_EQ(transcript.text(), "one\ntwo\nthree\n");
    EXPECT_EQ(transcript.toPlainText(), transcript.text());

    // Past the bound the document loses the same front the text does, line ends and all.
    const QString line = QStringLiteral("0123456789abcdefghi\r\n");
    for (int i = 0; i < 12000; ++i)
        transcript.append(line);
    EXPECT_LT(transcript.text().size(), BoundedText::limit);
    EXPECT_EQ(transcript.toPlainText(), transcript.text());
    EXPECT_TRUE(transcript.text().endsWith(QStringLiteral("abcdefghi\n")));

    transcript.clearText();
    EXPECT_TRUE(transcript.text().isEmpty());
    EXPECT_TRUE(transcript.toPlainText().isEmpty());
}

TEST(Transcript, ShownTextMapsLineEndsOneToOne)
{
    EXPECT_EQ(Transcript::shown(u"a\r\nb\rc", false), "a\nb\nc");
    EXPECT_EQ(Transcript::shown(u"\nrest", true), "rest");
    EXPECT_EQ(Transcript::shown(u"\nrest", false), "\nrest");
    EXPECT_EQ(Transcript::shown(QStringLiteral(u"x\u2029y\uFDD0"), false), QStringLiteral(u"x\ny\uFFFD"));
}
