#pragma once

#include <memory>

// The application's side of the look servers (voskel-look): small processes of its own, started
// directly rather than under a keeper (a keeper waits for its group, and would be held with it), that
// make every look at a user's folder for it. Each makes one look at a time; they are kept and used
// again, so looks at folders that answer start no process. One thread of the application, the servers'
// thread, sends every look and waits for every answer at once, however many there are: a look that does
// not answer holds no thread of its own. One whose look does not answer in time is given up: its pipes
// close, and it is left to end by itself once its mount answers (or is killed with the application).
// Looks are asked for through Platform::lookAtDisk and its kin (DiskLook.h).
//
// What waits at folders that stall is bounded: a folder is looked at by one server at a time, and the
// servers held at folders that stall (held up, or given up on and not ended) are at most
// mostHeldServers, of them at most mostHeldOnOneMount on one mount; a look past either bound is not
// answered, at once.
namespace Platform::detail {

struct ServedLook;

inline constexpr int mostHeldServers = 24;
inline constexpr int mostHeldOnOneMount = 8;

// Hands a look to the servers' thread (DiskLook.cpp's sendLook, past any test code).
void serveLook(std::shared_ptr<ServedLook> look);
// Has the servers' thread look again at what it waits for: a look was given up.
void wakeLookServers();
// Reaps the servers given up on that have ended since, and gives back the folders they held.
void reapLookServers();

} // namespace Platform::detail
