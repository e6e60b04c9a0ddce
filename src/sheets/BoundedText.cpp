#include "sheets/BoundedText.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// Below U+0300 (the first combining mark) every character is a cluster of its own, except that
// "\r\n" is one: the common case of command output, counted without the boundary finder.
bool plain(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300; });
}

qsizetype crlfPairs(QStringView text)
{
    qsizetype pairs = 0;
    for (qsizetype i = 1; i < text.size(); ++i)
        pairs += text[i] == u'\n' && text[i - 1] == u'\r';
    return pairs;
}

} // namespace

qsizetype BoundedText::countCharacters(QStringView text)
{
    if (plain(text))
        return text.size() - crlfPairs(text);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

qsizetype BoundedText::append(QStringView text)
{
    if (text.isEmpty())
        return 0;
    m_text.append(text);

    if (plain(m_lastCluster) && plain(text)) {
        const bool joinsCrlf =
            !m_lastCluster.isEmpty() && m_lastCluster.back() == u'\r' && text.front() == u'\n';
        m_characters += text.size() - crlfPairs(text) - (joinsCrlf ? 1 : 0);
        // A lone "\n" that completed the "\r" before it ends in that pair; a longer piece in its own
        // last two characters.
        const bool endsInCrlf = text.size() > 1 ? text.last(2) == u"\r\n" : joinsCrlf;
        m_lastCluster = endsInCrlf ? QStringLiteral("\r\n") : text.last(1).toString();
    } else {
        // The last cluster is counted already; whatever joins it adds nothing.
        const QString joined = m_lastCluster + text.toString();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, joined);
        qsizetype count = 0;
        qsizetype lastStart = 0;
        for (qsizetype at = 0; (at = finder.toNextBoundary()) > 0;) {
            ++count;
            if (at < joined.size())
                lastStart = at;
        }
        m_characters += count - (m_lastCluster.isEmpty() ? 0 : 1);
        m_lastCluster = joined.sliced(lastStart);
    }

    if (!m_bounded || m_characters <= limit)
        return 0;
    // Walk back `keep` clusters from the end; what lies before goes, in one step.
    qsizetype cut = 0;
    if (plain(m_text) && !m_text.contains(u'\r')) {
        cut = m_text.size() - keep;
    } else {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_text);
        finder.toEnd();
        for (qsizetype left = keep; left > 0 && finder.position() > 0; --left)
            finder.toPreviousBoundary();
        cut = finder.position();
    }
    m_text.remove(0, cut);
    m_characters = keep;
    return cut;
}

void BoundedText::clear()
{
    m_text.clear();
    m_characters = 0;
    m_lastCluster.clear();
}
