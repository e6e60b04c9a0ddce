#include "sheets/Transcript.h"

#include "app/design/FocusRing.h"
#include "app/design/TextStyle.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"

#include <QScrollBar>
#include <QTextDocument>

Transcript::Transcript(bool bounded, QWidget* parent) : QPlainTextEdit(parent), m_text(bounded)
{
    setObjectName(QStringLiteral("transcriptText"));
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false); // an undo history would keep every cut line alive
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Output is shown character for character, as a terminal shows it: no ligatures joining "->" or
    // "==" into one sign. Skipping the face's shaping also makes a busy stream several times cheaper.
    QFont face = TextStyles::transcript.font();
    face.setStyleStrategy(QFont::PreferNoShaping);
    setFont(face);
    document()->setDocumentMargin(10);
    m_end = QTextCursor(document());
    applyColours();
    connect(&Theme::instance(), &Theme::lookChanged, this, &Transcript::applyColours);
    // Tab stops here to read the text by keys: the ring says so, as on every other stop.
    FocusRing::wear(this, this);
}

QString Transcript::shown(QStringView chunk, bool afterCarriageReturn)
{
    QString out;
    out.reserve(chunk.size());
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const QChar c = chunk[i];
        if (c == u'\n' && (i == 0 ? afterCarriageReturn : chunk[i - 1] == u'\r'))
            continue; // the line end of "\r\n" was written with its "\r"
        if (c == u'\r' || c == QChar::ParagraphSeparator)
            out += u'\n';
        else if (c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1)
            out += QChar::ReplacementCharacter; // the document's own frame marks, never text
        else
            out += c;
    }
    return out;
}

void Transcript::append(QStringView output)
{
    const QString chunk = m_filter.filter(output);
    if (chunk.isEmpty())
        return;
    const QString text = shown(chunk, m_afterCarriageReturn);
    m_afterCarriageReturn = chunk.back() == u'\r';
    if (text.isEmpty())
        return;
    const qsizetype cut = m_text.append(text);
    m_end.movePosition(QTextCursor::End);
    m_end.insertText(text);
    if (cut > 0) {
        // Positions in the document are positions in the text: one per code unit, one per line end.
        QTextCursor front(document());
        front.setPosition(int(cut), QTextCursor::KeepAnchor);
        front.removeSelectedText();
    }
    if (m_follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void Transcript::clearText()
{
    m_text.clear();
    m_filter.reset();
    m_afterCarriageReturn = false;
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.removeSelectedText();
}

void Transcript::applyColours()
{
    QPalette colours = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Base, Vosk::page.color());
        colours.setColor(group, QPalette::Text, Vosk::inkSoft.color());
        colours.setColor(group, QPalette::PlaceholderText, Vosk::muted.color());
    }
    setPalette(colours);
}
