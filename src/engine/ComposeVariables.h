#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

// The variables compose fills into a project's files when it reads them.
namespace Docker {

// A variable's value as far as it is known here. One made from a variable that is not set here (an
// env file's `CFG=${BASE}/b.env` without BASE) is known only up to that variable: `whole` is false
// and `value` is what came before it.
struct Variable {
    QString value;
    bool whole = true;
    QString missing = {}; // not whole: the variable not set here it was cut at, when one was

    bool operator==(const Variable&) const = default;
};

using Variables = QHash<QString, Variable>;

// Where a text's variables are looked up: none for a variable that is not set.
using VariableLookup = std::function<std::optional<Variable>(const QString&)>;

// Looks a variable up in `env`, which must outlive the lookup.
VariableLookup lookupIn(const Variables& env);

// Each value known whole.
Variables wholeVariables(const QHash<QString, QString>& values);

// The text with compose's `${VAR}`, `${VAR:-default}`, `${VAR-default}`, `${VAR:?error}`,
// `${VAR?error}`, `${VAR:+other}`, `${VAR+other}`, `$VAR` and `$$` forms filled in, defaults nested as
// deep as they go. None past the first form whose value is not known here, with `known` holding what
// came before it: a variable not set here without a default (compose's own shell may have set it),
// one compose would have refused to start without, one known only in part, a form compose does not
// take. A set but empty variable counts as absent for the forms with a colon only. `missing` names the
// variable it was cut at (for one known only in part, the one not set here that cut it), and stays
// empty for a form compose does not take.
std::optional<QString> interpolated(QStringView text, const VariableLookup& lookup, QString* known = nullptr,
                                    QString* missing = nullptr);
std::optional<QString> interpolated(QStringView text, const Variables& env, QString* known = nullptr,
                                    QString* missing = nullptr);

// The process's own environment: what a shell that started compose would most likely have had.
QHash<QString, QString> shellVariables();

} // namespace Docker
