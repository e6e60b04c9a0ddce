#pragma once

#include <QString>
#include <QStringView>

// A text that grows at its end and, when bounded, never holds more than `limit` characters: past it,
// it is cut to its last `keep`. Characters are counted as a reader sees them (grapheme clusters, so
// "e" with a combining accent, a flag or "\r\n" is one), and counted as they arrive, so an append
// costs what the appended text costs, not what the whole text does.
class BoundedText {
public:
    static constexpr qsizetype limit = 200000;
    static constexpr qsizetype keep = 150000;

    explicit BoundedText(bool bounded = true) : m_bounded(bounded) {}

    // Appends `text`; returns how many code units were cut from the front (0 when nothing was).
    qsizetype append(QStringView text);
    void clear();

    const QString& text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }
    // Grapheme clusters held.
    qsizetype characters() const { return m_characters; }
    bool bounded() const { return m_bounded; }

    // Grapheme clusters in `text` on its own.
    static qsizetype countCharacters(QStringView text);

private:
    QString m_text;
    qsizetype m_characters = 0;
    // The last cluster of the text: what comes next may still join it (an accent, the second half of
    // a flag, the "\n" of "\r\n").
    QString m_lastCluster;
    bool m_bounded;
};
