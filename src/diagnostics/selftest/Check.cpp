#include "diagnostics/selftest/Check.h"

#include <exception>

namespace SelfTest {

namespace {

// The self test runs on one thread, one check after another.
QString currentCase;

} // namespace

CaseScope::CaseScope(const QString& name) : m_previous(currentCase)
{
    currentCase = name;
}

CaseScope::~CaseScope()
{
    if (std::uncaught_exceptions() == 0)
        currentCase = m_previous;
}

void check(bool holds, const QString& what)
{
    if (!holds)
        fail(what);
}

void fail(const QString& what, const QString& found)
{
    throw CheckFailed{failureLine(what, found)};
}

QString failureLine(const QString& what, const QString& found)
{
    QString line = QStringLiteral("selftest failed: ") + currentCase + QStringLiteral(": ") + what;
    if (!found.isEmpty())
        line += QStringLiteral(": ") + found;
    return line.replace(u'\n', QStringLiteral("\\n"));
}

} // namespace SelfTest
