#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <sys/types.h>

// One look server process (voskel-look) as the application holds it: its number and the two pipes to it.
namespace Platform::detail {

struct LookServerProcess {
    pid_t pid = 0;
    int input = -1;  // its standard input, ours to write, not blocking
    int output = -1; // its standard output, ours to read, not blocking
    size_t environment = 0;
};

// What a server looks at depends on the home it was started for (the home folder, the home Trash, the
// user's own folders that never go to the Trash), and what it is on the program it runs; a server
// started under another is not used again.
size_t lookServerEnvironment();

// Starts a server, noted as the application's own child (waited for by its number alone); none, with
// `failure` saying why, when it cannot be started. A server is killed when the thread that started it
// ends (the parent-death signal follows the thread), so only a thread that never ends may call this.
std::optional<LookServerProcess> startLookServer(QString& failure);

} // namespace Platform::detail
