#include "app/design/ToolTips.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QToolTip>
#include <QWidget>

namespace {

// The text a tooltip reads as: markup stands for the text it shows.
QString readAs(const QString& tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    return QTextDocumentFragment::fromHtml(tip).toPlainText();
}

class ShapedToolTips final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        const QString text = readAs(widget->toolTip());
        // Nothing of its own: the widget may still have a tooltip for a part of it (a menu's item).
        if (text.trimmed().isEmpty())
            return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), ToolTips::shaped(text, QToolTip::font()), widget, QRect(),
                           widget->toolTipDuration());
        return true;
    }
};

} // namespace

namespace ToolTips {

QStringList lines(const QString& text, const QFont& font, int width)
{
    QTextDocument document;
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    document.setPlainText(text);
    document.setTextWidth(width);
    document.documentLayout(); // lays the blocks out

    QStringList out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        const QString paragraph = block.text();
        if (!layout || layout->lineCount() == 0) {
            out << paragraph;
            continue;
        }
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            QString part = paragraph.mid(line.textStart(), line.textLength());
            // The blank a line was broken at ends the line before; only the last keeps its own.
            if (i + 1 < layout->lineCount())
                while (part.endsWith(u' '))
                    part.chop(1);
            out << part;
        }
    }
    return out;
}

QString shaped(const QString& text, const QFont& font, int width)
{
    QStringList escaped;
    for (const QString& line : lines(text, font, width))
        escaped << line.toHtmlEscaped();
    // Held to the lines given here: Qt would otherwise wrap them again at a width of its own choosing.
    return QStringLiteral("<p style=\"white-space:pre\">") + escaped.join(QStringLiteral("<br>")) +
           QStringLiteral("</p>");
}

void install(QApplication& application)
{
    static QPointer<QObject> filter;
    if (filter)
        return;
    filter = new ShapedToolTips(&application);
    application.installEventFilter(filter);
}

} // namespace ToolTips
