#pragma once

#include <QString>

class QTextStream;

namespace Diagnostics {

// The self test: checks the application's parsers and rules against fixed inputs, starting no child
// process and reaching no engine. Writes "selftest ok" to `out` and returns 0 when every check holds;
// otherwise stops at the first check that does not, writes one line naming its case and itself to
// `err`, nothing to `out`, and returns 1. Its settings suites are kept in a temporary folder of the
// run's own, never in the user's settings folder, so runs at the same time do not meet. Runs on the
// main thread.
int runSelfTest(QTextStream& out, QTextStream& err);

} // namespace Diagnostics
