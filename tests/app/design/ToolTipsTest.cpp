// Tooltips as wide as their text up to a limit, then wrapped at blanks.
#include "app/design/ToolTips.h"
#include "app/design/Fonts.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace {

class ToolTipsTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        registerBundledFonts();
        Theme::instance().install(false);
    }
};

TEST_F(ToolTipsTest, LinesRunToTheWidthAndBreakAtBlanks)
{
    const QFont font = QToolTip::font();
    const QFontMetricsF metrics(font);
    struct Row {
        const char* what;
        QString text;
        int lines;
    };
    const QString sentence = "Choose which of this project's stopped containers and unused images to remove, "
                             "and what cannot be brought back once it is gone";
    const QString run = QString(120, u'x');
    for (const Row& row :
         {Row{"a short one stays whole", "Open http://localhost:28461 in the browser", 1},
          Row{"its own line breaks stay", "first\nsecond", 2}, Row{"a long one wraps", sentence, -1},
          Row{"a run longer than a line breaks", run, -1}}) {
        const QStringList lines = ToolTips::lines(row.text, font, ToolTips::maximumWidth);
        if (row.lines > 0)
            EXPECT_EQ(lines.size(), row.lines) << row.what;
        else
            EXPECT_GE(lines.size(), 2) << row.what;
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), ToolTips::maximumWidth) << row.what;
        // Nothing is lost but the blanks the lines were broken at.
        QString joined = lines.join(row.text.contains(u' ') ? " " : "");
        if (row.text.contains(u'\n'))
            joined = lines.join("\n");
        EXPECT_EQ(joined, row.text) << row.what;
    }
    EXPECT_EQ(ToolTips::shaped("R&D <b>", font), "<p style=\"white-space:pre\">R&amp;D &lt;b&gt;</p>");
}

// What the tooltip window shows for a widget: one line as wide as its text, however its tooltip was
// written; a long one no wider than the limit.
TEST_F(ToolTipsTest, AWidgetsTooltipTakesTheWidthOfItsText)
{
    QPushButton button("Open");
    button.show();
    const auto shown = [&](const QString& tip) -> QLabel* {
        button.setToolTip(tip);
        QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), button.mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(&button, &help);
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "qtooltip_label" && top->isVisible())
                return qobject_cast<QLabel*>(top);
        return nullptr;
    };
    const QString address = "Open http://localhost:28461 in the browser";
    const double addressWidth = QFontMetricsF(QToolTip::font()).horizontalAdvance(address);
    for (const QString& tip : {address, Vosk::toolTip(address)}) {
        QLabel* label = shown(tip);
        ASSERT_TRUE(label) << tip.toStdString();
        EXPECT_GE(label->width(), addressWidth) << tip.toStdString();
        EXPECT_LT(label->height(), 2 * QFontMetricsF(QToolTip::font()).lineSpacing()) << tip.toStdString();
        QToolTip::hideText();
    }
    QLabel* label = shown(Vosk::toolTip(QString("a few words ").repeated(30)));
    ASSERT_TRUE(label);
    EXPECT_LE(label->width(), ToolTips::maximumWidth + 24);
    EXPECT_GE(label->width(), ToolTips::maximumWidth - 60);
    QToolTip::hideText();
}

} // namespace
