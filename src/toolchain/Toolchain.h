#pragma once

#include "platform/PreparedProcess.h"

#include <QString>
#include <QStringList>

#include <optional>

// Every tool other than the docker client (brew, colima, git, Apple's container, /bin/sh job
// scripts) is started from here, with a fixed search path and a quiet Homebrew environment.
namespace Toolchain {

// Prepares `argv` (element 0 is looked up on the search path) through /usr/bin/env, standard input
// on the null device. Does not start anything; callers may adjust the value first.
Platform::PreparedProcess process(const QStringList& argv);

// Runs `argv` to its end and returns status and both outputs; never throws. No time limit: run it
// on a background pool only.
Platform::Capture capture(const QStringList& argv);

// Where Homebrew may live, in the order they are tried.
QStringList brewLocations();

// The first Homebrew executable present, checked afresh on every call.
std::optional<QString> brewPath();
std::optional<QString> brewPath(const QStringList& candidates);

} // namespace Toolchain
