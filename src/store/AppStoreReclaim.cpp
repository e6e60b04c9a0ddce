#include "store/AppStore.h"

#include "engine/Container.h"
#include "engine/Reclaim.h"
#include "platform/ByteCount.h"
#include "platform/Numbers.h"
#include "platform/Pools.h"
#include "platform/TimedRunner.h"
#include "store/VolumeWeighing.h"

#include <algorithm>

namespace {

struct Group {
    std::optional<Runtime> runtime;
    QList<Reclaimable> items;
};

// The items of a removal that are still what was measured, asked just before it; a failure text for
// each of the others, which stay. An image's tag may have moved to another image since, which removing
// by the tag would take (one nobody was shown) while leaving the measured one untagged; a volume may
// have been removed and made again under its name, and would go with what was written into it.
QStringList stillMeasured(StoreEngine& engine, const Group& group, Reclaimable::Kind kind,
                          const QStringList& refs, QStringList& failures, const Platform::Cancellation* stop)
{
    const bool image = kind == Reclaimable::Kind::Image;
    QStringList kept;
    for (const QString& ref : refs) {
        if (stop->isCancelled())
            break;
        const auto item =
            std::find_if(group.items.cbegin(), group.items.cend(),
                         [kind, &ref](const Reclaimable& r) { return r.kind == kind && r.ref == ref; });
        const QString measured = item == group.items.cend() ? QString()
                                 : image                    ? item->imageId
                                                            : item->createdAt;
        // Nothing measured to compare with (an item made up by hand); an untagged image is removed by
        // its identifier, which cannot move.
        if (measured.isEmpty() || (image && measured == ref)) {
            kept << ref;
            continue;
        }
        const QStringList query = image ? Docker::imageIdQuery(ref) : Docker::volumeInspectQuery({ref});
        const Platform::Capture now =
            engine.captureWithin(query, group.runtime, std::nullopt, Docker::listingLimit, stop);
        if (const auto failed = commandFailure(query, now))
            failures << *failed;
        else if ((image ? now.out.trimmed() : Docker::parseVolumeCreation(now.out).value(ref)) != measured)
            failures << (image ? Docker::movedTagMessage(ref) : Docker::madeAgainMessage(item->name));
        else
            kept << ref;
    }
    return kept;
}

// The volumes of `group` among `refs` that nothing holds now; the others stay, each said with why.
QStringList stillUnheld(StoreEngine& engine, const Group& group, const QStringList& refs,
                        const QList<std::optional<Runtime>>& runtimes,
                        const QMap<QString, QList<KnownProject>>& remembered, std::chrono::milliseconds limit,
                        QStringList& failures, const Platform::Cancellation* stop)
{
    const QMap<QString, QStringList> held = volumesHeld(engine, refs, group.runtime, runtimes, remembered, limit, stop);
    QStringList free;
    for (const QString& ref : refs) {
        if (held.contains(ref))
            failures << QStringLiteral("%1 was not removed: %2.").arg(ref, held.value(ref).join(QStringLiteral("; ")));
        else
            free << ref;
    }
    return free;
}

bool wordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// The client's words with the password taken out, should it ever repeat what it was given. Only where
// it stands as a word of its own: a short password is a piece of many words ("e" of "Error"), and the
// client never prints the password it reads, so masking every piece would only garble its message.
QString withoutSecret(const QString& text, const QString& password)
{
    if (password.isEmpty())
        return text;
    QString masked;
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(password); at >= 0; at = text.indexOf(password, at + 1)) {
        const qsizetype end = at + password.size();
        const bool alone =
            (at == 0 || !wordCharacter(text[at - 1])) && (end == text.size() || !wordCharacter(text[end]));
        if (!alone || at < from)
            continue;
        masked += QStringView(text).sliced(from, at - from);
        masked += QStringLiteral("\u2022\u2022\u2022\u2022");
        from = end;
    }
    masked += QStringView(text).sliced(from);
    return masked;
}

} // namespace

QHash<QString, qint64> AppStore::usageTotals() const
{
    QHash<QString, qint64> totals;
    for (auto part = m_usageParts.cbegin(); part != m_usageParts.cend(); ++part)
        totals.insert(part.key(), part->total);
    return totals;
}

std::optional<qint64> AppStore::reclaimed(const std::optional<qint64>& before,
                                          const QHash<QString, qint64>& partsBefore) const
{
    if (partsBefore.isEmpty()) {
        // Figures given as a whole, as the modes that fill a store from fixtures give them.
        if (before && m_usage && m_usage->total < *before)
            return *before - m_usage->total;
        return std::nullopt;
    }
    // Runtime by runtime: one whose measurement failed since has no figures now, and its earlier ones
    // were not freed.
    qint64 freed = 0;
    const QHash<QString, qint64> now = usageTotals();
    for (auto was = partsBefore.cbegin(); was != partsBefore.cend(); ++was) {
        const auto is = now.constFind(was.key());
        if (is != now.cend() && *is < *was)
            freed = Platform::saturatingAdd(freed, *was - *is);
    }
    return freed > 0 ? std::optional<qint64>(freed) : std::nullopt;
}

QCoro::Task<QStringList> AppStore::reclaim(QList<Reclaimable> items)
{
    const std::optional<qint64> before = m_usage ? std::optional<qint64>(m_usage->total) : std::nullopt;
    const QHash<QString, qint64> partsBefore = usageTotals();
    QList<Group> groups;
    for (const Reclaimable& item : std::as_const(items)) {
        const std::optional<Runtime> on = actingOn(item.runtime);
        const auto group =
            std::find_if(groups.begin(), groups.end(), [&on](const Group& g) { return g.runtime == on; });
        if (group == groups.end())
            groups.append({on, {item}});
        else
            group->items.append(item);
    }

    QPointer<AppStore> self(this);
    const auto stop = std::make_shared<Platform::Cancellation>();
    // Asked for on the way out, once the removals under way were told to stop: nothing more goes.
    if (m_woundDown)
        stop->cancel();
    m_reclaims << stop;
    emit reclaimsChanged();
    BusyHold busy = holdBusy();
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Bounded: the sheet that waits for the removal cannot be closed meanwhile.
    auto job = Platform::onUserInitiated([engine, groups, limit = m_removalLimit, stop,
                                          remembered = m_registry.byRuntime, folderLimit = m_folderLimit,
                                          runtimes = everyRuntime(m_runtime)] {
        QStringList failures;
        for (const Group& group : groups) {
            for (QStringList command : Docker::reclaimCommands(group.items)) {
                if (stop->isCancelled())
                    return failures;
                const bool checked = command.first() == u"rmi" || command.first() == u"volume";
                if (checked) {
                    const qsizetype named = command.first() == u"rmi" ? 1 : 2;
                    const auto kind = named == 1 ? Reclaimable::Kind::Image : Reclaimable::Kind::Volume;
                    command = command.first(named) +
                              stillMeasured(*engine, group, kind, command.mid(named), failures, stop.get());
                    // A volume held since it was measured keeps its data: weighed again just before.
                    if (kind == Reclaimable::Kind::Volume && command.size() > named && !stop->isCancelled())
                        command = command.first(named) + stillUnheld(*engine, group, command.mid(named),
                                                                     runtimes, remembered, folderLimit,
                                                                     failures, stop.get());
                    if (command.size() == named || stop->isCancelled())
                        continue;
                }
                // One failure does not stop the rest: what can still go, goes.
                if (const auto failed =
                        commandFailure(command, engine->captureWithin(command, group.runtime, std::nullopt,
                                                                      limit, stop.get())))
                    failures << *failed;
            }
        }
        return failures;
    });
    const QStringList failures = co_await std::move(job);
    if (!self)
        co_return failures;
    // On the way out a measurement and a listing would only hold the quit up.
    if (!stop->isCancelled()) {
        // Begun after the removals, or the freed space would not show.
        co_await loadUsage(true);
        if (!self)
            co_return failures;
    }
    if (!stop->isCancelled()) {
        co_await refresh(false);
        if (!self)
            co_return failures;
        if (const std::optional<qint64> freed = reclaimed(before, partsBefore))
            setNotice(QStringLiteral("Reclaimed ") + Platform::fileSize(*freed) + u'.');
    }
    m_reclaims.removeOne(stop);
    busy.release();
    emit reclaimsChanged();
    co_return failures;
}

QCoro::Task<QMap<QString, QStringList>> AppStore::heldVolumes(QList<Reclaimable> items)
{
    // Per runtime: the volumes' names, and the identifier each is shown under.
    QList<std::pair<std::optional<Runtime>, QMap<QString, QString>>> groups;
    for (const Reclaimable& item : std::as_const(items)) {
        if (item.kind != Reclaimable::Kind::Volume)
            continue;
        const std::optional<Runtime> on = actingOn(item.runtime);
        auto group = std::find_if(groups.begin(), groups.end(), [&on](const auto& g) { return g.first == on; });
        if (group == groups.end())
            group = groups.insert(groups.end(), {on, {}});
        group->second.insert(item.ref, item.id());
    }
    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUserInitiated([engine, groups, every = everyRuntime(m_runtime),
                                          remembered = m_registry.byRuntime, limit = m_folderLimit] {
        QMap<QString, QStringList> held;
        for (const auto& [on, ids] : groups) {
            const QMap<QString, QStringList> volumes =
                volumesHeld(*engine, ids.keys(), on, every, remembered, limit, nullptr);
            for (auto volume = volumes.cbegin(); volume != volumes.cend(); ++volume)
                held.insert(ids.value(volume.key()), volume.value());
        }
        return held;
    });
    co_return co_await std::move(job);
}

QCoro::Task<AppStore::LoginResult> AppStore::login(QString server, QString username, QString password)
{
    const std::optional<Runtime> on = m_runtime;
    const QString host = Docker::trimBlanks(server);
    // The password is only ever written to the client's standard input: an argument would show in
    // every process listing, and it is never part of a text the store keeps or shows.
    QStringList args{QStringLiteral("login"), QStringLiteral("--username"), Docker::trimBlanks(username),
                     QStringLiteral("--password-stdin")};
    // "--" keeps a server typed as "-h" or "--help" from being read as an option: the client would
    // print its help, exit 0, and the sheet would call that a successful login.
    if (!host.isEmpty())
        args << QStringLiteral("--") << host;

    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUserInitiated([engine, args, on, password] {
        const Platform::Capture done = engine->capture(args, on, std::nullopt, password);
        const QString text = (done.status == 0 ? done.out : done.err).trimmed();
        LoginResult result{done.status == 0, withoutSecret(text, password)};
        if (result.said.isEmpty())
            result.said = QStringLiteral("docker login exited ") + QString::number(done.status) + u'.';
        return result;
    });
    co_return co_await std::move(job);
}
