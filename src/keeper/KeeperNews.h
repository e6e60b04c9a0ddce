#pragma once

// What a keeper (voskel-keeper) tells the application over its news pipe, one record per write, so each
// arrives whole. Plain C++: the keeper links nothing of Qt.

#include <csignal>
#include <cstdint>

namespace Keeper {

// exitedAlone: the program has ended and nothing is left in its group; the keeper exits at once.
enum News : std::int32_t { started = 1, failed = 2, exitedLeavingOthers = 3, exitedAlone = 4 };
// Where a start failed; `value` then holds the errno.
enum FailedAt : std::int32_t { atDirectory = 1, atProgram = 2 };

struct Record {
    std::int32_t news = 0;
    std::int32_t value = 0; // the errno of a failure, the wait status of an exit
    std::int32_t where = 0;
};

// Sent to the keeper alone, it ends everything under it at once: its group and whatever left the group,
// killed, reaped, and then the keeper itself. A kill sent to the group would end the keeper first and
// leave what left the group to run on. Once the program has ended on its own, what left the group is
// no longer the keeper's: only the group is killed.
inline constexpr int endEverything = SIGUSR1;

// The keeper's program file, beside the application's.
inline constexpr const char* programName = "voskel-keeper";

} // namespace Keeper
