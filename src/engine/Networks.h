#pragma once

#include "platform/PreparedProcess.h"

#include <QList>

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// The networks compose makes for a project, removed with it when its containers go one by one (as
// compose down removes them). Only what the removed containers were attached to, what carries the
// project's own label and what no container uses any more: never a prune by label, which would take
// every unused network another tool labelled alike (all those with an empty project label, say).
namespace Docker {

// Runs one docker command and gives back what it printed; the caller decides the runtime and limits.
using Capture = std::function<Platform::Capture(const QStringList& args)>;

// One network as the engine describes it.
struct NetworkInfo {
    QString id;
    QString name;
    QMap<QString, QString> labels;

    bool operator==(const NetworkInfo&) const = default;
};

// The networks the `containers` (names) are attached to, each by identifier where the engine has
// given it one and else by name (a container never started has only the name), in first-seen order.
// Asked before the containers go. Containers gone meanwhile, or a failing engine, give fewer.
QStringList attachedNetworks(const QStringList& containers, const Capture& capture);
// What that query prints: one JSON object of network name -> settings per container.
QStringList parseAttachedNetworks(const QString& text);

// What `docker network inspect` prints with the template removeSpareNetworks uses.
QList<NetworkInfo> parseNetworks(const QString& text);

// A command that failed: what it was and what it said.
struct FailedCommand {
    QStringList args;
    Platform::Capture result;
};

// Removes, by identifier, those of `networks` (as attachedNetworks gave them) that carry the label
// com.docker.compose.project with exactly `project` as its value and that no container, running or
// not, is attached to now. The removals that failed, in order; a network gone meanwhile, or one a
// container is attached to again, is left alone and is no failure.
QList<FailedCommand> removeSpareNetworks(const QStringList& networks, const QString& project,
                                         const Capture& capture);

} // namespace Docker
