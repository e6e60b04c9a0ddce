#include "engine/ComposeVariables.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace Docker {

namespace {

// A compose or env file is a few kilobytes; one far larger is not one, and is not read into memory.
constexpr qint64 largestFile = 4 << 20;

bool isNameChar(QChar c, bool first)
{
    return c == u'_' || (c.isLetter() && c.unicode() < 128) || (!first && c.isDigit() && c.unicode() < 128);
}

// Reads one `${...}` or `$NAME` at `text[at]` (just past the "$"), appending its value to `out`. False
// when its value cannot be known here.
bool substitute(QStringView text, qsizetype& at, const QHash<QString, QString>& env, QString& out);

bool fill(QStringView text, const QHash<QString, QString>& env, QString& out)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'$') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == u'$') {
            out += u'$';
            ++i;
            continue;
        }
        ++i;
        if (!substitute(text, i, env, out))
            return false;
        --i;
    }
    return true;
}

bool substitute(QStringView text, qsizetype& at, const QHash<QString, QString>& env, QString& out)
{
    if (at >= text.size()) {
        out += u'$';
        return true;
    }
    if (text[at] != u'{') {
        qsizetype end = at;
        while (end < text.size() && isNameChar(text[end], end == at))
            ++end;
        if (end == at) { // a "$" that starts no name stands for itself
            out += u'$';
            return true;
        }
        const QString name = text.mid(at, end - at).toString();
        at = end;
        if (!env.contains(name))
            return false;
        out += env.value(name);
        return true;
    }
    // The matching brace, past any nested one in a default.
    qsizetype depth = 0;
    qsizetype close = -1;
    for (qsizetype i = at; i < text.size(); ++i) {
        if (text[i] == u'{')
            ++depth;
        else if (text[i] == u'}' && --depth == 0) {
            close = i;
            break;
        }
    }
    if (close < 0)
        return false; // compose refuses it; what it meant is not known
    const QStringView inner = text.mid(at + 1, close - at - 1);
    at = close + 1;
    qsizetype nameEnd = 0;
    while (nameEnd < inner.size() && isNameChar(inner[nameEnd], nameEnd == 0))
        ++nameEnd;
    const QString name = inner.left(nameEnd).toString();
    if (name.isEmpty())
        return false;
    const bool set = env.contains(name);
    const QString value = env.value(name);
    QStringView rest = inner.mid(nameEnd);
    if (rest.isEmpty()) {
        if (!set)
            return false;
        out += value;
        return true;
    }
    const bool colon = rest.startsWith(u':');
    if (colon)
        rest = rest.mid(1);
    if (rest.isEmpty())
        return false;
    const QChar op = rest.front();
    const QStringView word = rest.mid(1);
    const bool present = colon ? set && !value.isEmpty() : set;
    switch (op.unicode()) {
    case u'-':
        if (present) {
            out += value;
            return true;
        }
        return fill(word, env, out);
    case u'?':
        // Unset, compose would have refused to start the project: it was set then, to a value not known here.
        if (!present)
            return false;
        out += value;
        return true;
    case u'+':
        return present ? fill(word, env, out) : true;
    default:
        return false;
    }
}

} // namespace

std::optional<QString> interpolated(QStringView text, const QHash<QString, QString>& env, QString* known)
{
    QString out;
    const bool complete = fill(text, env, out);
    if (known)
        *known = out;
    if (!complete)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> smallFileContents(const QString& path)
{
    // Only a plain file: opening a pipe put in its place would wait for a writer.
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || info.size() > largestFile || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QHash<QString, QString> envFileValues(const QString& path)
{
    QHash<QString, QString> env;
    const std::optional<QByteArray> contents = smallFileContents(path);
    if (!contents)
        return env;
    for (QString line : QString::fromUtf8(*contents).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(QLatin1StringView("export ")))
            line = line.mid(7).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (line.startsWith(u'#') || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        else if (const qsizetype comment = value.indexOf(QLatin1StringView(" #")); comment >= 0)
            value = value.left(comment).trimmed();
        env.insert(key, value);
    }
    return env;
}

QHash<QString, QString> shellVariables()
{
    QHash<QString, QString> shell;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& key : system.keys())
        shell.insert(key, system.value(key));
    return shell;
}

} // namespace Docker
