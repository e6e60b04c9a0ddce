#pragma once

#include "engine/ComposeProject.h"
#include "engine/Container.h"

#include <QString>
#include <QStringList>

#include <optional>

// The operations some checks need that belong to the window's parts, sheets and settings. Each
// answers none until the operation exists; the checks that call it are passed over until then. To
// bring a check in, make its function here call the real operation (and link the library that has it).
namespace SelfTest::Pending {

// The tray row's start/stop button word for a container state ("Resume", "Stop", "Start").
std::optional<QString> trayButtonWord(const QString& state);

// The logs sheet's argument lists (its log source): a container's logs with an optional tail and
// since; its boot log on the Apple runtime (itself absent when the source has none); a compose
// project's logs; the Apple runtime's system log; a container's inspect output.
std::optional<QStringList> containerLogArgs(const Container& container, std::optional<int> tail,
                                            const std::optional<QString>& since);
std::optional<std::optional<QStringList>> containerBootArgs(const Container& container, int tail);
std::optional<QStringList> projectLogArgs(const ComposeProject& project, std::optional<int> tail,
                                          const std::optional<QString>& since);
std::optional<QStringList> systemLogArgs(const QString& since);
std::optional<QStringList> inspectArgs(const Container& container);
// The file name the logs sheet offers for an image's saved inspect output.
std::optional<QString> inspectFileName(const DockerImage& image);

// The clone sheet's rules: the folder a repository address is cloned into (itself absent when the
// address names none), and the clone's argument list.
std::optional<std::optional<QString>> cloneFolderName(const QString& url);
std::optional<QStringList> cloneArgs(const QString& url, const QString& into);

// The Settings window's tool jobs: the scripts of starting and restarting the Apple runtime's
// services, of updating formulae, and of restarting the Colima engine.
std::optional<QString> startJobScript();
std::optional<QString> restartJobScript();
std::optional<QString> upgradeJobScript(const QStringList& formulae);
std::optional<QString> engineRestartJobScript(std::optional<int> cpus, std::optional<int> memoryGB);

} // namespace SelfTest::Pending
