#pragma once

// What a keeper (voskel-keeper) tells the application over its news pipe, one record per write, so each
// arrives whole. Plain C++: the keeper links nothing of Qt.

#include <csignal>
#include <cstdint>

namespace Keeper {

// exitedAlone: the program has ended and nothing is left in its group; the keeper exits at once.
// released: a process out of the group that the keeper lets go, as its program ended on its own; it is
// named with its start, so the application can tell it from a later process given the same number.
enum News : std::int32_t { started = 1, failed = 2, exitedLeavingOthers = 3, exitedAlone = 4, released = 5 };
// Where a start failed; `value` then holds the errno.
enum FailedAt : std::int32_t { atDirectory = 1, atProgram = 2 };

struct Record {
    std::int32_t news = 0;
    std::int32_t value = 0; // the errno of a failure, the wait status of an exit, a released process's id
    std::int32_t where = 0;
    std::int32_t unused = 0;
    std::uint64_t startedAt = 0; // a released process's start, in clock ticks since boot
};

// Sent to the keeper alone, it ends everything under it at once: its group and whatever left the group,
// killed, reaped, and then the keeper itself. A kill sent to the group would end the keeper first and
// leave what left the group to run on. Once the program has ended on its own, what left the group is
// no longer the keeper's: only the group is killed.
inline constexpr int endEverything = SIGUSR1;

// The keeper's program file, beside the application's.
inline constexpr const char* programName = "voskel-keeper";

} // namespace Keeper
