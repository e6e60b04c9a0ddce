#pragma once

#include <QtGlobal>

#include <sys/types.h>

namespace Keeper {
struct ProcessMark;
}

namespace Platform {

// Makes this process the subreaper of everything it starts (the application does it first thing, in
// every mode), so that what a command leaves behind comes back to it rather than to init, and starts
// looking after what comes back:
// - what a keeper let go on purpose (its job ended on its own, leaving a daemon out of its group) runs
//   on, and is reaped once it ends; so is what the application started to outlive it (letRunOn);
// - what a keeper leaves when it dies without saying its job ended (killed) is the job's too: it is
//   killed at once, with everything under it, as the keeper's group is, and reaped;
// - anything else that comes back is left to run, and reaped once it has ended and nobody else has.
// Never touched: the keepers, the children noted with noteOwnChild, and any process running the
// application's own program or its keeper's. Children are only ever waited for by their numbers, so a
// QProcess's or another part's own wait is never robbed of its status. Without this call nothing
// here acts: what is left behind goes to init as before.
void becomeSubreaper();

// A process the application started to outlive it (a terminal window, started detached): when it comes
// back it is left to run, with whatever shares its session, and reaped when it ends.
void letRunOn(qint64 pid);

// A child the application starts itself, outside the keepers, and waits for by its number: never
// reaped, signalled or ended here. Forget it once it has been waited for.
void noteOwnChild(qint64 pid);
void forgetOwnChild(qint64 pid);

// For the keepers' runner (KeptChild).
namespace Foundlings {

// A keeper named `process` as let go: its job ended on its own and left it running out of its group.
void released(const Keeper::ProcessMark& process);
// The keeper `keeper` died without saying its job ended: what came back from it is ended. Called
// before the keeper is reaped, while its number cannot name another process.
void leftBy(const Keeper::ProcessMark& keeper);

} // namespace Foundlings

} // namespace Platform
