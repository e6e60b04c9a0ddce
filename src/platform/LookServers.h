#pragma once

// The application's side of the look servers (voskel-look): small processes of its own, started
// directly rather than under a keeper (a keeper waits for its group, and would be held with it), that
// make every look at a user's folder for it. Each makes one look at a time; they are kept and used
// again, so looks at folders that answer start no process. One whose look does not answer in time is
// given up: its pipes close, it is left to end by itself once its mount answers (or is killed with the
// thread that started it), and a new one takes its place for later looks. Looks are asked for through
// Platform::lookAtDisk and its kin (DiskLook.h).
namespace Platform::detail {

// Reaps the servers given up on that have ended since, and gives back the folders they held.
void reapLookServers();

} // namespace Platform::detail
