#pragma once

#include "engine/Runtime.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

#include <optional>

class AppStore;
class QWidget;

// A folder chosen to be added as a project, and the runtime picked to run it on (none when no
// runtime could be picked).
struct ProjectToAdd {
    QString dir;
    std::optional<Runtime> runtime;

    bool operator==(const ProjectToAdd&) const = default;
};

// The folder chooser for a new project, window-modal over `parent`, with a "Run on:" pop-up of the
// store's reachable runtimes (the default one selected) when there are any. None when cancelled.
QCoro::Task<std::optional<ProjectToAdd>> chooseProjectToAdd(AppStore& store, QWidget* parent);
// The same chooser without the pop-up, for pointing a project at its moved folder.
QCoro::Task<std::optional<QString>> chooseProjectDirectory(QWidget* parent);

// Adding a project from a folder, start to end: the chooser, then the store; a message the store
// answers with goes to its error banner. A cancelled chooser changes nothing.
QCoro::Task<> addChosenProject(QPointer<AppStore> store, QPointer<QWidget> parent);
