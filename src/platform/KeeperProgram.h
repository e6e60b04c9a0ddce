#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace Platform {

// The keeper's program: voskel-keeper beside the running executable, else the one setBuiltKeeper named.
// Starts fail while it is missing.
QString keeperProgram();
// For the tests and benchmarks, whose executables live elsewhere in the build tree: the keeper their
// build made, taken when none is beside them. The application never names one.
void setBuiltKeeper(const char* path);
// Test seam: the keeper's program to start instead; empty turns it off.
void setKeeperProgram(const QString& path);
// Why no command could start under the keeper: none when keeperProgram() is a file this process may
// run; otherwise the text saying it is missing (or cannot be run), for a start that says nothing else.
std::optional<QString> keeperMissing();

// The look server's program, found as the keeper's is: voskel-look beside the running executable, else
// the one setBuiltLookServer named. Every look at a user's folder is made there; without it, none is.
QString lookServerProgram();
void setBuiltLookServer(const char* path);
// Test seam: the look server's program to start instead; empty turns it off.
void setLookServerProgram(const QString& path);
// Why no folder could be looked at: none when lookServerProgram() is a file this process may run;
// otherwise the text saying it is missing (or cannot be run), for a start that says nothing else.
std::optional<QString> lookServerMissing();

// What a start under a keeper, or its end, says to the user.
namespace KeeperTexts {

// The command as a user knows it: the program `env` finds (docker's commands and the tools'), else
// the program itself.
QString commandName(const QString& program, const QStringList& arguments);
// The program, or its working directory (`where` is a Keeper::FailedAt), could not be used.
QString launchFailure(const QString& program, const QString& directory, int where, int error);
// Without its keeper a child would lose what the keeper guarantees, so it is not started at all;
// without `error` the keeper ended without a word.
QString keeperFailure(const QString& command, const QString& keeper, std::optional<int> error);
// Its keeper died before the command had ended.
QString cutOff(const QString& command);
// No keeper to start anything under (`error`: why the file cannot be run), said before anything runs.
QString missing(const QString& keeper, int error);
// No look server to look at a folder with, said before anything runs.
QString lookServerMissing(const QString& server, int error);

} // namespace KeeperTexts

} // namespace Platform
