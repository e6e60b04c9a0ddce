#pragma once

#include "engine/ComposeProject.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace Platform {
class Settings;
}

// One remembered compose project: where it lives and the services last seen of it.
struct KnownProject {
    QString name;
    QString workingDir;
    QStringList services; // sorted
    // The folder its containers name, when the user located the project in `workingDir` after that
    // folder was gone; empty otherwise. Their labels keep naming it until they are made anew.
    QString movedFrom = {};
    // Every set of files, folder and env files its containers said it was started from (StartedFrom),
    // in the order they named them, older sets after: what its Up runs from, and what a plan reads of
    // it once it is down. Empty for a project remembered before its containers were seen, or given by
    // the user: compose's own rules in `workingDir` say which files it runs from.
    QList<StartedFrom> startedFrom = {};
    // The host paths its containers had bind-mounted while it ran, as the engine said: what a path of
    // its files through a variable not set here stood for, still known once it is down.
    QStringList mounts = {};

    bool operator==(const KnownProject&) const = default;
};

size_t qHash(const KnownProject& project, size_t seed = 0) noexcept;

// The compose projects remembered per runtime identifier, so a project taken down (no containers
// left) still shows and can be started again from its directory. Stored in the settings under
// "knownProjects" as JSON text: {"<runtime id>": [{"name", "workingDir", "services"}, ...], ...}, with
// "movedFrom" only in an entry that has one. What each project was started from and had mounted is kept
// beside it, under "knownProjectSources": {"<runtime id>": {"<name>": {"files", "projectDir", "envFiles",
// "services", "sets": [{"files", "projectDir", "envFiles", "services"}, ...], "mounts": [...]}}}: the
// first set in the members of the entry itself (the form a single set has always been stored in), "sets"
// only when there are several, "mounts" only when there are any. Every operation given no runtime
// identifier does nothing.
struct ProjectRegistry {
    static constexpr const char* settingsKey = "knownProjects";
    static constexpr const char* sourcesKey = "knownProjectSources";
    // The most sets and mounts remembered of one project: one brought up from ever new files keeps the
    // sets its containers name first, one binding very many paths the first of them.
    static constexpr qsizetype mostSets = 8;
    static constexpr qsizetype mostMounts = 512;

    QMap<QString, QList<KnownProject>> byRuntime;

    // What the settings hold. One malformed entry is dropped on its own; the rest is kept, because
    // the next save would otherwise overwrite every remembered project.
    static ProjectRegistry load(const Platform::Settings& settings);
    void save(Platform::Settings& settings) const;

    static ProjectRegistry fromJson(const QByteArray& json);
    QByteArray toJson() const;
    // What each remembered project was started from and had mounted; an entry naming no remembered
    // project is dropped, and so is a set that is not whole.
    void takeSources(const QByteArray& json);
    QByteArray sourcesJson() const;

    // Remembers what a refresh discovered on a runtime, but for names compose does not take; never
    // forgets anything. A project whose containers still name the folder it was moved from keeps the
    // folder it was moved to. Every set its containers say they were started from is remembered with
    // it, and never replaced by less: a set that names no files, no folder or only some of the env files
    // of one remembered with the same files and folder keeps what was remembered. Sets its containers
    // no longer name are kept while they name any remembered one; containers that name only others
    // were brought up anew (from another folder, other files), and only theirs are remembered then.
    void record(const QList<ComposeProject>& discovered, const std::optional<QString>& runtimeId);
    // Remembers the host paths the containers of the project `name` bind-mount now, as the engine said
    // (`mounts`), in place of those remembered; a project not remembered there changes nothing.
    void recordMounts(const QString& name, const QStringList& mounts,
                      const std::optional<QString>& runtimeId);
    // Remembers one project given by the user, replacing one of the same name (and what it was
    // started from and had mounted: the folder given is where compose's own rules find its files now).
    void add(const KnownProject& project, const std::optional<QString>& runtimeId);
    void forget(const QString& name, const std::optional<QString>& runtimeId);
    bool knows(const QString& name, const std::optional<QString>& runtimeId) const;

    // The project list of one runtime: the discovered projects with the service counts remembered of
    // them (their folders stay those their containers name, unless the project was moved from there),
    // plus the remembered ones without containers, sorted by name.
    static QList<ComposeProject> merge(const QList<ComposeProject>& discovered,
                                       const QList<KnownProject>& known);

    bool operator==(const ProjectRegistry&) const = default;
};
