#include "diagnostics/Output.h"

#include <QTextStream>

namespace Diagnostics {

void printLine(QTextStream& out, const QString& line)
{
    out << line << '\n';
    out.flush();
}

} // namespace Diagnostics
