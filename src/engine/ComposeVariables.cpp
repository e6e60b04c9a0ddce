#include "engine/ComposeVariables.h"

#include <QProcessEnvironment>

namespace Docker {

namespace {

bool isNameChar(QChar c, bool first)
{
    const char16_t u = c.unicode();
    return u == u'_' || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
           (!first && u >= u'0' && u <= u'9');
}

// One text being filled in: what it has come to so far, and the variable it was cut at.
struct Filling {
    const VariableLookup& lookup;
    QString out;
    QString missing;

    // Appends `variable`'s value; false when it is known only in part, which cuts the text there.
    bool take(const Variable& variable)
    {
        out += variable.value;
        if (!variable.whole)
            missing = variable.missing;
        return variable.whole;
    }
};

bool fill(QStringView text, Filling& filling);

// The end of the braced form that starts at `text[at]` ("${"): compose counts only "${" as opening
// one, so a plain "{" in a default is text.
qsizetype closingBrace(QStringView text, qsizetype at)
{
    qsizetype open = 0;
    for (qsizetype i = at; i < text.size(); ++i) {
        if (text[i] == u'$' && i + 1 < text.size() && text[i + 1] == u'{') {
            ++open;
            ++i;
        } else if (text[i] == u'}' && --open == 0) {
            return i;
        }
    }
    return -1;
}

// Appends the value of one braced form, `inner` being what stands between its braces. False when that
// value is not known here.
bool substituteBraced(QStringView inner, Filling& filling)
{
    qsizetype nameEnd = 0;
    while (nameEnd < inner.size() && isNameChar(inner[nameEnd], nameEnd == 0))
        ++nameEnd;
    if (nameEnd == 0)
        return false; // compose refuses it; what it meant is not known
    const QString name = inner.left(nameEnd).toString();
    const std::optional<Variable> variable = filling.lookup(name);
    QStringView rest = inner.mid(nameEnd);
    if (rest.isEmpty()) {
        if (!variable) {
            filling.missing = name;
            return false;
        }
        return filling.take(*variable);
    }
    const bool colon = rest.startsWith(u':');
    if (colon)
        rest = rest.mid(1);
    if (rest.isEmpty())
        return false;
    const QChar op = rest.front();
    const QStringView word = rest.mid(1);
    // A value known only in part is not empty when that part is not; whether an empty part is the
    // whole of it is not known.
    if (colon && variable && variable->value.isEmpty() && !variable->whole) {
        filling.missing = variable->missing;
        return false;
    }
    const bool present = variable && (!colon || !variable->value.isEmpty());
    switch (op.unicode()) {
    case u'-':
        return present ? filling.take(*variable) : fill(word, filling);
    case u'?':
        // Unset, compose would have refused to start the project: it was set then, to a value not known here.
        if (!present) {
            filling.missing = name;
            return false;
        }
        return filling.take(*variable);
    case u'+':
        return present ? fill(word, filling) : true;
    default:
        return false;
    }
}

bool fill(QStringView text, Filling& filling)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'$' || i + 1 >= text.size()) {
            filling.out += text[i];
            continue;
        }
        const QChar next = text[i + 1];
        if (next == u'$') {
            filling.out += u'$';
            ++i;
        } else if (next == u'{') {
            const qsizetype close = closingBrace(text, i);
            if (close < 0 || !substituteBraced(text.mid(i + 2, close - i - 2), filling))
                return false;
            i = close;
        } else if (isNameChar(next, true)) {
            // An unbraced name runs as far as name characters go: "$DATA_DIR" is DATA_DIR, never DATA.
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text[end], false))
                ++end;
            const QString name = text.mid(i + 1, end - i - 1).toString();
            const std::optional<Variable> variable = filling.lookup(name);
            if (!variable) {
                filling.missing = name;
                return false;
            }
            if (!filling.take(*variable))
                return false;
            i = end - 1;
        } else {
            filling.out += u'$'; // a "$" that starts no form stands for itself
        }
    }
    return true;
}

} // namespace

Variables wholeVariables(const QHash<QString, QString>& values)
{
    Variables variables;
    variables.reserve(values.size());
    for (auto value = values.cbegin(); value != values.cend(); ++value)
        variables.insert(value.key(), {value.value(), true});
    return variables;
}

std::optional<QString> interpolated(QStringView text, const VariableLookup& lookup, QString* known,
                                    QString* missing)
{
    Filling filling{lookup, {}, {}};
    const bool complete = fill(text, filling);
    if (known)
        *known = filling.out;
    if (missing)
        *missing = complete ? QString() : filling.missing;
    if (!complete)
        return std::nullopt;
    return filling.out;
}

std::optional<QString> interpolated(QStringView text, const Variables& env, QString* known, QString* missing)
{
    return interpolated(text, lookupIn(env), known, missing);
}

VariableLookup lookupIn(const Variables& env)
{
    return [&env](const QString& name) -> std::optional<Variable> {
        const auto found = env.constFind(name);
        return found == env.cend() ? std::nullopt : std::optional<Variable>(*found);
    };
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
