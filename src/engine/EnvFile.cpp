#include "engine/EnvFile.h"

#include "engine/ComposeInputs.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace Docker {

namespace {

// compose's blanks within a line: a line feed is not one.
bool isBlank(QChar c)
{
    switch (c.unicode()) {
    case u'\t':
    case u'\v':
    case u'\f':
    case u'\r':
    case u' ':
    case 0x85:
    case 0xA0:
        return true;
    default:
        return false;
    }
}

bool isKeyChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'-' || c == u'[' || c == u']';
}

// The escapes a double-quoted value takes once its quotes are gone.
constexpr std::pair<char16_t, char16_t> escapes[] = {{u'a', 7},  {u'b', 8},    {u'f', 12},
                                                     {u'n', 10}, {u'r', 13},   {u't', 9},
                                                     {u'v', 11}, {u'"', u'"'}, {u'\\', u'\\'}};

// "\$" becomes "$$", which the filling in turns into a plain "$"; "\0" and up to three octal digits
// the character they count.
QString unescaped(QStringView raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar next = i + 1 < raw.size() ? raw[i + 1] : QChar();
        if (raw[i] != u'\\' || next.isNull()) {
            out += raw[i];
            continue;
        }
        const auto plain = std::find_if(std::begin(escapes), std::end(escapes),
                                        [&](const auto& escape) { return escape.first == next; });
        if (plain != std::end(escapes)) {
            out += QChar(plain->second);
            ++i;
        } else if (next == u'$') {
            out += QStringLiteral("$$");
            ++i;
        } else if (next == u'0') {
            qsizetype end = i + 2;
            int code = 0;
            while (end < raw.size() && end < i + 5 && raw[end] >= u'0' && raw[end] <= u'7')
                code = code * 8 + (raw[end++].unicode() - u'0');
            if (end > i + 2 && code < 256) {
                out += QChar(code);
                i = end - 1;
            } else {
                out += raw[i];
            }
        } else {
            out += raw[i];
        }
    }
    return out;
}

class EnvParser {
public:
    EnvParser(QStringView text, const VariableLookup& before) : m_text(text), m_before(before) {}

    EnvFileParse parse()
    {
        if (m_text.startsWith(QChar(0xFEFF)))
            m_at = 1;
        while (statementStart())
            if (!statement())
                break;
        return m_parse;
    }

private:
    QStringView m_text;
    const VariableLookup& m_before;
    qsizetype m_at = 0;
    int m_line = 1;
    EnvFileParse m_parse;

    bool refuse(const QString& why)
    {
        m_parse.refusal = QStringLiteral("line %1: %2").arg(m_line).arg(why);
        return false;
    }

    // Past blank lines and comments to the next statement; false at the end.
    bool statementStart()
    {
        for (;;) {
            while (m_at < m_text.size() && m_text[m_at].isSpace())
                if (m_text[m_at++] == u'\n')
                    ++m_line;
            if (m_at >= m_text.size())
                return false;
            if (m_text[m_at] != u'#')
                return true;
            while (m_at < m_text.size() && m_text[m_at] != u'\n')
                ++m_at;
        }
    }

    void skipBlanks()
    {
        while (m_at < m_text.size() && isBlank(m_text[m_at]))
            ++m_at;
    }

    bool statement()
    {
        if (m_text.mid(m_at).startsWith(QLatin1StringView("export")) && m_at + 6 < m_text.size() &&
            m_text[m_at + 6].isSpace()) {
            m_at += 6;
            skipBlanks();
        }
        const qsizetype start = m_at;
        qsizetype end = m_at;
        while (end < m_text.size() && (isBlank(m_text[end]) || isKeyChar(m_text[end])))
            ++end;
        if (end >= m_text.size())
            return false; // a key without "=" at the very end sets nothing compose could look up
        const QChar separator = m_text[end];
        if (separator != u'=' && separator != u':' && separator != u'\n')
            return refuse(QStringLiteral("unexpected character \"%1\" in variable name").arg(separator));
        QStringView key = m_text.mid(start, end - start);
        while (!key.isEmpty() && key.back().isSpace())
            key.chop(1);
        if (key.contains(u' '))
            return refuse(QStringLiteral("key cannot contain a space"));
        m_at = end + 1;
        if (separator == u'\n') {
            ++m_line;
            if (const std::optional<Variable> inherited = m_before(key.toString()))
                m_parse.values.insert(key.toString(), *inherited);
            return true;
        }
        skipBlanks();
        std::optional<Variable> value =
            m_at < m_text.size() && (m_text[m_at] == u'"' || m_text[m_at] == u'\'') ? quoted() : unquoted();
        if (!value)
            return false;
        m_parse.values.insert(key.toString(), *value);
        return true;
    }

    Variable filled(QStringView raw) const
    {
        QString known;
        QString missing;
        const std::optional<QString> value = interpolated(
            raw,
            [this](const QString& name) -> std::optional<Variable> {
                if (std::optional<Variable> found = m_before(name))
                    return found;
                const auto mine = m_parse.values.constFind(name);
                return mine == m_parse.values.cend() ? std::nullopt : std::optional<Variable>(*mine);
            },
            &known, &missing);
        return value ? Variable{*value, true} : Variable{known, false, missing};
    }

    std::optional<Variable> unquoted()
    {
        qsizetype end = m_text.indexOf(u'\n', m_at);
        if (end < 0)
            end = m_text.size();
        QStringView raw = m_text.mid(m_at, end - m_at);
        if (const qsizetype comment = raw.indexOf(QLatin1StringView(" #")); comment >= 0)
            raw = raw.left(comment);
        while (!raw.isEmpty() && raw.back().isSpace())
            raw.chop(1);
        m_at = end + 1;
        ++m_line;
        return filled(raw);
    }

    std::optional<Variable> quoted()
    {
        const QChar quote = m_text[m_at];
        QString raw;
        bool escaped = false;
        for (qsizetype i = m_at + 1; i < m_text.size(); ++i) {
            const QChar c = m_text[i];
            if (c == u'\n')
                ++m_line;
            if (escaped) {
                escaped = false;
                // An escaped quote drops its backslash; any other escaped character keeps it.
                if (c != quote)
                    raw += u'\\';
                raw += c;
            } else if (c == u'\\') {
                escaped = true;
            } else if (c == quote) {
                m_at = i + 1;
                if (quote == u'\'')
                    return Variable{raw, true};
                return filled(unescaped(raw));
            } else {
                raw += c;
            }
        }
        refuse(QStringLiteral("unterminated quoted value"));
        return std::nullopt;
    }
};

} // namespace

EnvFileParse parseEnvFile(QStringView text, const VariableLookup& before)
{
    return EnvParser(text, before).parse();
}

EnvFilesRead readEnvFiles(const QStringList& paths, const VariableLookup& before)
{
    EnvFilesRead read;
    for (const QString& path : paths) {
        const DiskRead file = readComposeInput(path);
        if (file.kind == DiskLook::Kind::Gone)
            continue;
        if (file.kind == DiskLook::Kind::Unknown) {
            read.unknown = file.why;
            return read;
        }
        const EnvFileParse parse =
            parseEnvFile(QString::fromUtf8(file.bytes), [&](const QString& name) -> std::optional<Variable> {
                if (std::optional<Variable> found = before(name))
                    return found;
                const auto earlier = read.values.constFind(name);
                return earlier == read.values.cend() ? std::nullopt : std::optional<Variable>(*earlier);
            });
        read.read << path;
        if (parse.refusal) {
            read.unknown =
                QStringLiteral("%1 cannot be read as compose reads it (%2)").arg(path, *parse.refusal);
            return read;
        }
        read.values.insert(parse.values);
    }
    return read;
}

} // namespace Docker
