#pragma once

#include <QCoroTask>

class QTextStream;

namespace Diagnostics {

// The settings suite the dump's store lives on; it is removed when the dump ends.
inline constexpr auto dumpSuite = "voskel.dump";

// What every runtime reports, through an application store of its own showing all runtimes: what
// the main window would hold. The store reads the user's remembered projects but writes only to a
// suite of its own (in memory when that suite cannot be used), which is gone afterwards, so the
// user's settings never change. Runs on the main thread, whose event loop must turn while it is
// awaited.
QCoro::Task<> runDumpAll(QTextStream& out);

} // namespace Diagnostics
