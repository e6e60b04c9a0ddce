#pragma once

#include "engine/ComposeUses.h"
#include "engine/Container.h"
#include "engine/FolderUsers.h"
#include "engine/ProjectRegistry.h"
#include "engine/Runtime.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class StoreEngine;

namespace Platform {
class Cancellation;
}

// Who else may use a project's folder, as a deletion plan asks every runtime and the registry: the
// containers, volumes and engines of every runtime, and the files the compose files of every other
// project name.

// What the runtimes said their containers, volumes and engines use on the host. A runtime reached
// through several contexts or sockets is one engine, and counted once.
struct Users {
    QList<Container> containers;
    Docker::BindMap binds; // by container identifier
    // A volume with the host paths it keeps its data in or takes it from: whoever mounts it uses them.
    struct Volume {
        std::optional<Runtime> runtime;
        QString name;
        QList<Docker::FolderUse> uses;
    };
    QList<Volume> volumes;
    QList<Docker::FolderUse> engines; // where each engine keeps its own data
    // The runtimes that reach the project's own engine, the project's runtime first: what they list of
    // it is the project's own, and what the registry remembers there is the project's own project.
    QList<std::optional<Runtime>> ownEngine;
    QStringList unanswered; // the runtimes that could not say, by name
    // What each of them did not answer, as a sentence ("The engine did not answer in time: the labels
    // of container web."), naming the runtime when it is not the project's.
    QStringList unansweredSteps;
    // The project's runtime's engine and the folders of its volumes, as it said them: asked once.
    std::optional<Docker::EngineInfo> ownInfo = {};
    std::optional<QMap<QString, QStringList>> ownFolders = {};
};

// "The engine did not answer in time: <step>."
QString notAnsweredInTime(const QString& step);
// "The engine did not answer: <step> (<why>)."
QString notAnswered(const QString& step, QString why);

// Asks every runtime of `runtimes` and `on` at the same time, each within its own limits, what its
// containers, volumes and engine use; `listedOn`, when given, is `on`'s container listing at hand.
// Blocks until each has answered or given up.
Users gatherUsers(StoreEngine& engine, QList<std::optional<Runtime>> runtimes,
                  const std::optional<Runtime>& on, const std::optional<QList<Container>>& listedOn,
                  const Platform::Cancellation* cancel);

// "<runtime> did not say which folders its containers use", for the runtimes named.
QString unansweredReason(const QStringList& runtimes);

// What of the project is its own, and goes with it.
struct OwnParts {
    QString project;            // its name
    QStringList containers;     // identifiers
    QSet<QString> volumes = {}; // on the project's runtime: those the deletion removes
};

// What the registry remembers on every runtime, but `project` on the runtime it is remembered under as
// `onId`.
QMap<QString, QList<KnownProject>> rememberedBesides(const ProjectRegistry& registry, const QString& project,
                                                     const std::optional<QString>& onId);

// How a remembered project is read: one source per set of files, folder and env files it was started
// from, else one of what compose's own rules find in its folder; each reads what those rules find in its
// folder now too, since its files may have been renamed since. None in place of a set whose files cannot
// be told apart (a comma inside a file's name, say).
QList<std::optional<Docker::ComposeSource>> rememberedSources(const KnownProject& known);

struct SplitUses {
    QList<Docker::FolderUse> others; // what anyone but the project uses
    QList<Docker::FolderUse> own;    // what the project's containers and removed volumes bind
};

// One other project's compose files as a plan reads them, and who it is to the user.
struct OtherReading {
    Docker::FolderUse user; // without a path; no container for a project only remembered
    Docker::ComposeSource source = {};
    bool ownEngine = false;  // it runs, or was remembered, on a way to the project's own engine
    bool remembered = false; // it has no containers: only the registry knows it
    bool registry = false;   // the registry remembers it: its folder is its own
    // What its files name; with `unknown` when they could not be read or did not answer in time.
    std::optional<Docker::ComposeFileUses> read = {};
    // Of a project only remembered, the host paths its containers had bind-mounted while it ran, on the
    // first reading of it: used by it as any path its files name.
    QStringList mounts = {};

    QString where() const; // its folder, or its first file
};

// Reads what every other project (with containers, or `remembered` without) names in its compose
// files, each as a look at the disk within `deadline`; one that has not answered by then is unknown. A
// remembered project is read once per set it was started from.
// `first` runs first in every look (a test's stall).
QList<OtherReading> readOthers(const Users& users, const OwnParts& own,
                               const QMap<QString, QList<KnownProject>>& remembered,
                               const QDeadlineTimer& deadline, const std::function<void()>& first,
                               const Platform::Cancellation* cancel);

// The volumes of the project's engine that other projects name in their compose files, and those
// projects, running or not, of which it cannot be known which volumes their files name: any volume may
// be theirs.
struct VolumeHolds {
    QMap<QString, QStringList> namedBy; // volume -> "project <name>", in reading order
    QStringList unknown;                // "project <name>"
    QStringList why;                    // "project <name> may name it: <why>", one each
};
VolumeHolds volumeHolds(const QList<OtherReading>& readings);

// Splits what `users` use into the project's own and everybody else's, adding what every other project
// (with containers, or `remembered` without) names in its compose files, and what a remembered one had
// mounted. Those files are read as looks
// at the disk within `deadline`; one that has not answered by then makes its project's uses unknown.
// `first` runs first in every look (a test's stall).
SplitUses splitUses(const Users& users, const OwnParts& own, const std::optional<Runtime>& on,
                    const QMap<QString, QList<KnownProject>>& remembered, const QDeadlineTimer& deadline,
                    const std::function<void()>& first, const Platform::Cancellation* cancel);
// The same with the other projects' files already read.
SplitUses splitUses(const Users& users, const OwnParts& own, const std::optional<Runtime>& on,
                    const QList<OtherReading>& readings);
