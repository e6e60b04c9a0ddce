#pragma once

#include "sheets/BoundedText.h"
#include "sheets/TerminalFilter.h"

#include <QPlainTextEdit>
#include <QTextCursor>

// The selectable monospaced text of a sheet that shows a command's output. Text is added at its end
// as it arrives, laying out only what was added; when bounded it keeps at most BoundedText's limit,
// cutting from the front in one step. While empty it shows a muted placeholder (the banner, a hint).
//
// Line ends are shown as the terminal would end the line: "\r\n" and a lone "\r" become "\n", so what
// `text()` returns is exactly what is shown, character for character. What only a terminal acts on
// (colour and cursor sequences, titles, other control characters) is left out of both.
class Transcript : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit Transcript(bool bounded, QWidget* parent = nullptr);

    // The text shown, exactly.
    const QString& text() const { return m_text.text(); }
    bool isEmpty() const { return m_text.isEmpty(); }

    void append(QStringView output);
    void clearText();
    // Whether every change scrolls to the end (a followed stream) or leaves the view where it is.
    void setFollowsEnd(bool follow) { m_follow = follow; }
    void setPlaceholder(const QString& text) { setPlaceholderText(text); }
    // QPlainTextEdit::textChanged tells of every change: an append, a cut, clearing.

    // `chunk` as the transcript shows it, given whether the text so far ends in a carriage return
    // that was shown as a line end.
    static QString shown(QStringView chunk, bool afterCarriageReturn);

private:
    void applyColours();

    BoundedText m_text;
    TerminalFilter m_filter;
    QTextCursor m_end;
    bool m_follow = true;
    bool m_afterCarriageReturn = false;
};
