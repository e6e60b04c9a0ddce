#include "sheets/TerminalFilter.h"

namespace {

constexpr char16_t bell = 0x07;
constexpr char16_t cancel = 0x18;
constexpr char16_t substitute = 0x1A;
constexpr char16_t escape = 0x1B;
constexpr char16_t c1Csi = 0x9B;
constexpr char16_t c1StringTerminator = 0x9C;
constexpr char16_t c1Osc = 0x9D;

bool kept(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\t';
}

// C0, DEL and C1.
bool control(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// What opens a control string: DCS, SOS, PM and APC after ESC ("P", "X", "^", "_") or on their own.
bool opensString(char16_t c)
{
    return c == 0x90 || c == 0x98 || c == 0x9E || c == 0x9F;
}

} // namespace

QString TerminalFilter::filter(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        if (m_state != State::text && consume(ch, out))
            continue;
        const char16_t c = ch.unicode();
        if (c == escape)
            m_state = State::escape;
        else if (c == c1Csi)
            m_state = State::csi;
        else if (c == c1Osc || opensString(c))
            m_state = State::controlString;
        else if (kept(c) || !control(c))
            out += ch;
    }
    return out;
}

bool TerminalFilter::consume(QChar ch, QString& out)
{
    const char16_t c = ch.unicode();
    if (m_state == State::controlString) {
        // A string runs to BEL or ST (ESC "\" or its C1 form). A line end ends one left unterminated
        // too, so a broken title costs at most the rest of its line, never the rest of the log.
        if (c == escape) {
            m_state = State::escape;
        } else if (c == bell || c == c1StringTerminator || c == cancel || c == substitute) {
            m_state = State::text;
        } else if (c == u'\n' || c == u'\r') {
            m_state = State::text;
            out += ch;
        }
        return true;
    }

    if (c == escape) {
        m_state = State::escape; // a new sequence takes over an unfinished one
        return true;
    }
    if (c == cancel || c == substitute) {
        m_state = State::text;
        return true;
    }
    if (c < 0x20 || c == 0x7F) {
        // Carried out in the middle of a sequence, as a terminal does: line ends and tabs show.
        if (kept(c))
            out += ch;
        return true;
    }
    switch (m_state) {
    case State::escape:
        if (c == u'[') {
            m_state = State::csi;
            return true;
        }
        if (c == u']' || c == u'P' || c == u'X' || c == u'^' || c == u'_') {
            m_state = State::controlString;
            return true;
        }
        [[fallthrough]];
    case State::escapeIntermediate:
        if (c >= 0x20 && c <= 0x2F) {
            m_state = State::escapeIntermediate;
            return true;
        }
        if (c >= 0x30 && c <= 0x7E) {
            m_state = State::text;
            return true;
        }
        break;
    case State::csi:
        if (c >= 0x20 && c <= 0x3F)
            return true;
        if (c >= 0x40 && c <= 0x7E) {
            m_state = State::text;
            return true;
        }
        break;
    case State::text:
    case State::controlString:
        break;
    }
    // Nothing a sequence is made of: the sequence was broken off, and this is text again.
    m_state = State::text;
    return false;
}
