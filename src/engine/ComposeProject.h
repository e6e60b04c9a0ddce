#pragma once

#include "engine/Container.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One set of what a project was started from, as its containers' compose labels said while it ran:
// its compose files and env files (each list joined by commas, as compose joins them), its project
// folder, and the services whose containers were made from it (sorted; empty when none said).
struct StartedFrom {
    QString files;
    QString projectDir;
    QString envFiles;
    QStringList services = {};

    bool operator==(const StartedFrom&) const = default;
};

// A compose project as shown: its containers on one runtime, grouped by their compose labels, or a
// remembered project that has none at the moment.
struct ComposeProject {
    QString name;
    std::optional<QString> workingDir;
    QList<Container> containers; // sorted by name
    qint64 serviceCount = 0;     // known from the project registry; 0 when unknown
    std::optional<Runtime> runtime;
    // A remembered project without containers: every set it was started from, as the registry
    // remembers them; empty when none are remembered, and compose's own rules find its files in its
    // folder.
    QList<StartedFrom> startedFrom = {};

    QString id() const;
    // How the project's name reads wherever it is shown; see displayName(const QString&).
    QString displayName() const { return displayName(name); }
    // Containers whose project label is empty form a project of no name: it reads "(no name)", which
    // screens set apart from a real name where they can. No two names read alike: a real name that
    // would read as that, or as nothing at all (blanks, marks of no width, control characters), is put
    // in quotes, and one already so quoted in one pair more.
    static QString displayName(const QString& name);
    static bool isNameless(const QString& name) { return name.isEmpty(); }
    int runningCount() const;
    // How many containers the project should have: the larger of those it has and its known services.
    qint64 totalCount() const;
    QString statusText() const;
    // Whether the project's compose file builds an image from source ("build:" at any indentation).
    bool hasBuild() const;
    // The same for the compose file `file` (a name of Docker::composeFileNames) found in `dir`.
    static bool builds(const QString& dir, const QString& file);
    // The compose files of every set a remembered project was started from, in order, each once (a
    // relative one as it was named).
    QStringList rememberedFiles() const;
    // The compose files its containers were made from: those of the first container that names any;
    // empty when none does (no containers, or made by a tool that does not say).
    QStringList configFiles() const;
    // The distinct folders its containers name as their working directory, in container order. More
    // than one means the project was brought up from several places, and none of them is its alone.
    QStringList containerFolders() const;
    // Containers running unhealthy or exited with an error, in container order.
    QList<Container> troubled() const;

    bool operator==(const ComposeProject&) const = default;
};

size_t qHash(const ComposeProject& project, size_t seed = 0) noexcept;
