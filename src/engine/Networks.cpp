#include "engine/Networks.h"

#include "engine/Container.h"
#include "engine/Docker.h"
#include "platform/Json.h"

#include <QJsonObject>

namespace Docker {

QStringList parseAttachedNetworks(const QString& text)
{
    QStringList networks;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonObject attached = Platform::parseJson(line).toObject();
        for (auto it = attached.constBegin(); it != attached.constEnd(); ++it) {
            const QString id = str(it.value().toObject(), QLatin1StringView("NetworkID"));
            const QString network = id.isEmpty() ? it.key() : id;
            if (!network.isEmpty() && !networks.contains(network))
                networks << network;
        }
    }
    return networks;
}

QStringList attachedNetworks(const QStringList& containers, const Capture& capture)
{
    if (containers.isEmpty())
        return {};
    QStringList args{QStringLiteral("inspect"), QStringLiteral("--type"), QStringLiteral("container")};
    args << containers << QStringLiteral("--format") << QStringLiteral("{{json .NetworkSettings.Networks}}");
    // A container gone since the plan makes the client fail, but the others are still printed.
    return parseAttachedNetworks(capture(args).out);
}

QList<NetworkInfo> parseNetworks(const QString& text)
{
    QList<NetworkInfo> networks;
    for (const QJsonObject& line : ndjson(text)) {
        NetworkInfo network{str(line, QLatin1StringView("Id")), str(line, QLatin1StringView("Name")), {}};
        const QJsonObject labels = line.value(QLatin1StringView("Labels")).toObject();
        for (auto it = labels.constBegin(); it != labels.constEnd(); ++it)
            if (it.value().isString())
                network.labels.insert(it.key(), it.value().toString());
        if (!network.id.isEmpty())
            networks << network;
    }
    return networks;
}

QList<FailedCommand> removeSpareNetworks(const QStringList& networks, const QString& project,
                                         const Capture& capture)
{
    if (networks.isEmpty())
        return {};
    QStringList inspect{QStringLiteral("network"), QStringLiteral("inspect")};
    inspect << networks << QStringLiteral("--format")
            << QStringLiteral(R"({"Id":{{json .Id}},"Name":{{json .Name}},"Labels":{{json .Labels}}})");
    // Networks removed meanwhile make the client fail; those left are still printed.
    const QList<NetworkInfo> described = parseNetworks(capture(inspect).out);
    const QString projectKey = QString::fromLatin1(projectLabel);
    QList<FailedCommand> failed;
    QStringList done;
    for (const NetworkInfo& network : described) {
        const auto label = network.labels.constFind(projectKey);
        // One network may have been named twice: by identifier and by name.
        if (label == network.labels.cend() || *label != project || done.contains(network.id))
            continue;
        done << network.id;
        // A container never started names its networks only by name; one that ran, by identifier.
        const QStringList users{QStringLiteral("ps"),       QStringLiteral("-a"),
                                QStringLiteral("-q"),       QStringLiteral("--no-trunc"),
                                QStringLiteral("--filter"), QStringLiteral("network=") + network.id,
                                QStringLiteral("--filter"), QStringLiteral("network=") + network.name};
        const Platform::Capture used = capture(users);
        if (used.status != 0 || !used.out.trimmed().isEmpty())
            continue;
        const QStringList remove{QStringLiteral("network"), QStringLiteral("rm"), network.id};
        const Platform::Capture removed = capture(remove);
        if (removed.status != 0)
            failed << FailedCommand{remove, removed};
    }
    return failed;
}

} // namespace Docker
