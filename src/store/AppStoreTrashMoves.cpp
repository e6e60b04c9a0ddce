#include "store/AppStore.h"

#include "platform/FolderLooks.h"
#include "platform/Settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

// A deletion forgets its project once the folder is in the Trash, on this thread, after the move. A
// quit while the move runs ends the event loop first (a move cannot be ended half way): the move then
// finishes unseen, or the process ends before it does, and the project stays remembered with its
// folder in the Trash. So the project is noted, on disk, before the move starts, and a note still
// there at the next start is settled by looking at the folder. The note is written by this thread
// alone, as every other setting is, and the settings file is replaced whole when written, so a quit
// at any step leaves it as it was before or after.

namespace {

struct TrashMove {
    QString runtimeId;
    QString name;
    QString workingDir;
    QString folder; // what moves, when a link is on workingDir; else empty

    bool operator==(const TrashMove&) const = default;
};

QList<TrashMove> pendingMoves(const Platform::Settings& settings)
{
    QList<TrashMove> moves;
    const QJsonDocument stored =
        QJsonDocument::fromJson(settings.string(QLatin1StringView(AppStore::pendingTrashMovesKey)).toUtf8());
    for (const QJsonValue& value : stored.array()) {
        const QJsonObject move = value.toObject();
        const QString dir = move.value(QLatin1StringView("workingDir")).toString();
        // A note without its folder could only ever forget a project whose folder is fine.
        if (!dir.isEmpty())
            moves << TrashMove{move.value(QLatin1StringView("runtime")).toString(),
                               move.value(QLatin1StringView("name")).toString(), dir,
                               move.value(QLatin1StringView("folder")).toString()};
    }
    return moves;
}

void keepMoves(Platform::Settings& settings, const QList<TrashMove>& moves)
{
    const QString key = QString::fromLatin1(AppStore::pendingTrashMovesKey);
    if (moves.isEmpty()) {
        settings.remove(key);
    } else {
        QJsonArray stored;
        for (const TrashMove& move : moves) {
            QJsonObject note{{QStringLiteral("runtime"), move.runtimeId},
                             {QStringLiteral("name"), move.name},
                             {QStringLiteral("workingDir"), move.workingDir}};
            if (!move.folder.isEmpty())
                note.insert(QStringLiteral("folder"), move.folder);
            stored.append(note);
        }
        settings.setValue(key, QString::fromUtf8(QJsonDocument(stored).toJson(QJsonDocument::Compact)));
    }
    settings.sync();
}

} // namespace

void AppStore::noteTrashMove(const KnownProject& project, const QString& runtimeId, bool pending,
                             const QString& folder)
{
    QList<TrashMove> moves = pendingMoves(m_defaults);
    const TrashMove move{runtimeId, project.name, project.workingDir,
                         folder == project.workingDir ? QString() : folder};
    moves.removeAll(move);
    if (pending)
        moves << move;
    keepMoves(m_defaults, moves);
}

QCoro::Task<> AppStore::forgetTrashedProjects()
{
    QPointer<AppStore> self(this);
    const QList<TrashMove> moves = pendingMoves(m_defaults);
    for (const TrashMove& move : moves) {
        // Gone from where it was, by that name: a link left there still counts as there.
        auto look =
            lookAtFolder(Platform::Looks::gone(move.folder.isEmpty() ? move.workingDir : move.folder));
        const std::optional<bool> gone = co_await std::move(look);
        if (!self)
            co_return;
        // A folder that does not answer is looked at again at the next start.
        if (!gone)
            continue;
        // Only while it is still remembered with that folder: one added again elsewhere since stays.
        const QList<KnownProject> known = m_registry.byRuntime.value(move.runtimeId);
        const bool same = std::any_of(known.cbegin(), known.cend(), [&](const KnownProject& p) {
            return p.name == move.name && p.workingDir == move.workingDir;
        });
        if (*gone && same) {
            ProjectRegistry changed = m_registry;
            changed.forget(move.name, move.runtimeId);
            keepRegistry(changed);
        }
        noteTrashMove({move.name, move.workingDir, {}}, move.runtimeId, false, move.folder);
    }
}
