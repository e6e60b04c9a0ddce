#pragma once

// The listings' line reader: what the fast path of every JSON listing goes through, kept in a header so
// that it is inlined where the listings are parsed.

#include "engine/Docker.h"
#include "platform/Json.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstring>

namespace Docker::detail {

// Reads the wanted string values of one line of listing output exactly as Docker::ndjson and
// Docker::str would, without building the whole object. Plain JSON takes a fast path that hands out
// views into the line; anything unusual there (numbers with exponents, surrogates, a wanted key given
// twice, deep nesting, any error) sends the line to the general reader instead, so both agree.
class LineReader {
public:
    explicit LineReader(const QList<QLatin1StringView>& keys)
        : m_keys(keys), m_views(keys.size()), m_decoded(keys.size())
    {
    }

    // False when the line is not a JSON object; it is then skipped.
    bool read(QStringView line)
    {
        if (m_keys.size() <= 64 && scan(line))
            return true;
        return readGeneral(line);
    }

    // The value under the i-th key: valid until the next read.
    QStringView value(qsizetype i) const { return m_views[i]; }

private:
    const QList<QLatin1StringView>& m_keys;
    QList<QStringView> m_views;
    QStringList m_decoded;
    const QChar* m_p = nullptr;
    const QChar* m_end = nullptr;

    bool readGeneral(QStringView line)
    {
        const QJsonValue parsed = Platform::parseJson(line.toString());
        if (!parsed.isObject())
            return false;
        const QJsonObject object = parsed.toObject();
        for (qsizetype i = 0; i < m_keys.size(); ++i) {
            m_decoded[i] = Docker::str(object, m_keys[i]);
            m_views[i] = m_decoded[i];
        }
        return true;
    }

    bool scan(QStringView line)
    {
        m_p = line.data();
        m_end = line.data() + line.size();
        std::fill(m_views.begin(), m_views.end(), QStringView());
        quint64 seen = 0;
        QString keyBuffer;
        skipSpace();
        if (!consume(u'{'))
            return false;
        skipSpace();
        if (!consume(u'}')) {
            for (;;) {
                skipSpace();
                QStringView key;
                if (!readString(&keyBuffer, &key))
                    return false;
                skipSpace();
                if (!consume(u':'))
                    return false;
                skipSpace();
                const qsizetype wanted = indexOfKey(key);
                if (wanted >= 0) {
                    const quint64 bit = quint64(1) << wanted;
                    if (seen & bit)
                        return false;
                    seen |= bit;
                }
                if (wanted >= 0 && m_p < m_end && *m_p == u'"') {
                    if (!readString(&m_decoded[wanted], &m_views[wanted]))
                        return false;
                } else if (!skipValue(0)) {
                    return false;
                }
                skipSpace();
                if (consume(u','))
                    continue;
                if (consume(u'}'))
                    break;
                return false;
            }
        }
        skipSpace();
        return m_p == m_end;
    }

    qsizetype indexOfKey(QStringView key) const
    {
        for (qsizetype i = 0; i < m_keys.size(); ++i)
            if (m_keys[i].size() == key.size() && key == m_keys[i])
                return i;
        return -1;
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == u' ' || *m_p == u'\t' || *m_p == u'\r' || *m_p == u'\n'))
            ++m_p;
    }

    bool consume(char16_t c)
    {
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    static bool isPlain(char16_t c) { return c != u'"' && c != u'\\' && c >= 0x20 && !QChar::isSurrogate(c); }

    // Moves past the characters of a string that need no attention, eight at a time while none of
    // them is a quote, a backslash, a control character or a surrogate (the label texts of a
    // listing are long and almost all plain).
    void skipPlain()
    {
        using Lanes = quint16 __attribute__((vector_size(16)));
        while (m_end - m_p >= 8) {
            Lanes x;
            std::memcpy(&x, m_p, sizeof x);
            const Lanes special = (x == u'"') | (x == u'\\') | (x < 0x20) | ((x & 0xF800) == 0xD800);
            quint64 halves[2];
            std::memcpy(halves, &special, sizeof halves);
            if (halves[0] | halves[1])
                break;
            m_p += 8;
        }
        while (m_p < m_end && isPlain(m_p->unicode()))
            ++m_p;
    }

    static int hexDigit(char16_t u)
    {
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    }

    // At an opening quote. `view` receives the text: the characters between the quotes when there
    // are no escapes, else the decoded text kept in `decoded`. Without `view` it only validates.
    bool readString(QString* decoded, QStringView* view)
    {
        if (!consume(u'"'))
            return false;
        const QChar* start = m_p;
        skipPlain();
        if (m_p < m_end && *m_p == u'"') {
            if (view)
                *view = QStringView(start, m_p - start);
            ++m_p;
            return true;
        }
        if (view) {
            decoded->resize(0);
            decoded->append(start, m_p - start);
        }
        for (;;) {
            if (m_p >= m_end || m_p->unicode() != u'\\' || m_end - m_p < 2)
                return false;
            const char16_t e = m_p[1].unicode();
            m_p += 2;
            QChar c;
            switch (e) {
            case u'"':
                c = u'"';
                break;
            case u'\\':
                c = u'\\';
                break;
            case u'/':
                c = u'/';
                break;
            case u'b':
                c = u'\b';
                break;
            case u'f':
                c = u'\f';
                break;
            case u'n':
                c = u'\n';
                break;
            case u'r':
                c = u'\r';
                break;
            case u't':
                c = u'\t';
                break;
            case u'u': {
                if (m_end - m_p < 4)
                    return false;
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = hexDigit(m_p[i].unicode());
                    if (d < 0)
                        return false;
                    code = code * 16 + d;
                }
                if (QChar::isSurrogate(char32_t(code)))
                    return false;
                c = QChar(char16_t(code));
                m_p += 4;
                break;
            }
            default:
                return false;
            }
            const QChar* chunk = m_p;
            skipPlain();
            if (view) {
                decoded->append(c);
                decoded->append(chunk, m_p - chunk);
            }
            if (m_p < m_end && *m_p == u'"') {
                if (view)
                    *view = *decoded;
                ++m_p;
                return true;
            }
        }
    }

    bool skipLiteral(QLatin1StringView word)
    {
        if (m_end - m_p < word.size() || QStringView(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }

    void skipDigits()
    {
        while (m_p < m_end && m_p->unicode() >= u'0' && m_p->unicode() <= u'9')
            ++m_p;
    }

    // Plain integers and decimals only; exponents and very long numbers go to the general reader.
    bool skipNumber()
    {
        const QChar* start = m_p;
        consume(u'-');
        const QChar* digits = m_p;
        skipDigits();
        if (m_p == digits || (m_p - digits > 1 && *digits == u'0'))
            return false;
        if (consume(u'.')) {
            const QChar* fraction = m_p;
            skipDigits();
            if (m_p == fraction)
                return false;
        }
        return m_p - start <= 15;
    }

    bool skipValue(int depth)
    {
        if (m_p >= m_end || depth > 32)
            return false;
        switch (m_p->unicode()) {
        case u'"':
            return readString(nullptr, nullptr);
        case u't':
            return skipLiteral(QLatin1StringView("true"));
        case u'f':
            return skipLiteral(QLatin1StringView("false"));
        case u'n':
            return skipLiteral(QLatin1StringView("null"));
        case u'{':
        case u'[': {
            const bool object = m_p->unicode() == u'{';
            const char16_t close = object ? u'}' : u']';
            ++m_p;
            skipSpace();
            if (consume(close))
                return true;
            for (;;) {
                skipSpace();
                if (object) {
                    if (!readString(nullptr, nullptr))
                        return false;
                    skipSpace();
                    if (!consume(u':'))
                        return false;
                    skipSpace();
                }
                if (!skipValue(depth + 1))
                    return false;
                skipSpace();
                if (consume(u','))
                    continue;
                return consume(close);
            }
        }
        default:
            return skipNumber();
        }
    }
};

// Calls `row` with the reader positioned on every JSON object line of `text`, in order.
template <typename Row>
void forEachObjectLine(QStringView text, const QList<QLatin1StringView>& keys, Row row)
{
    LineReader reader(keys);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        const QStringView line = text.mid(start, end - start);
        start = end + 1;
        if (!line.isEmpty() && reader.read(line))
            row(reader);
    }
}

} // namespace Docker::detail
