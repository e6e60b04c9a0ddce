#pragma once

#include "engine/Container.h"
#include "engine/FolderUsers.h"
#include "platform/KernelMounts.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

// Who uses a project's folder as the kernel's mount tables say: whatever a container or any other
// process has mounted of it now, whichever path it was bound through and whatever has become of that
// path since. What the engines say of their containers is judged besides this, not instead.

// The kernel's mount tables of this machine as read now, every read within `limit`: a read that does
// not return in time leaves the view partial, and says so (HostMounts::partial). Tests put a stand-in
// in its place with setKernelView; none puts the real reading back.
Platform::HostMounts kernelView(std::chrono::milliseconds limit);
void setKernelView(std::function<Platform::HostMounts(std::chrono::milliseconds)> standIn);

// What the kernel's view says of a folder that is otherwise offered for the Trash.
struct KernelVerdict {
    // Why it is not offered: a mount of another process shows it, or a table that could not be read
    // may. None when nothing does.
    std::optional<QString> refusal;
    bool unsure = false; // the refusal is for a table that could not be read
    // Said in the plan of a folder offered when the kernel's tables could not be read at all, so that the
    // plan does not claim to have seen more than the engines told.
    QStringList notes;
};

// Judges `folder` (every link resolved) by `host`: each other namespace's mount that reaches it is a
// use, named by the container of `containers` whose identifier its process's control group names, or
// as another process's mount. The project's own containers (`own`, identifiers) are not counted, nor
// mounts at `passing`.
KernelVerdict kernelVerdict(const Platform::HostMounts& host, const QString& folder,
                            const QList<Container>& containers, const QStringList& own,
                            const QStringList& passing = {});

// Withdraws `offer`, where it offers its folder, for the kernel's refusal, as it reads this machine's
// tables now (a refusal for a table that could not be read leaves it unsure). The notes the plan is to
// give of what the kernel could not show.
QStringList heedKernel(Docker::TrashOffer& offer, const QList<Container>& containers, const QStringList& own,
                       const QStringList& passing = {});

// What the kernel's view says of a volume's data folder on this machine (`dataFolder`, as the engine
// names it, where the engine is local).
struct KernelVolumeVerdict {
    // Whoever has the data folder, or a folder inside it, mounted, in any mount namespace, this
    // process's own included (a bind of the host): one text each, naming the container or process and
    // where. The volume stays while any is named.
    QStringList users;
    // Mounts of a folder above it (an agent binding the engine's data folder, say): named in the plan,
    // they do not keep the volume on their own.
    QStringList above;
    // Why the view may have missed a user (a table that could not be read, a partial view of the
    // processes): a volume cannot come back, so it stays for these too.
    QStringList doubts;
};

// Judges `dataFolder` by `host`. Mounts of the project's own containers (`own`, identifiers) and
// mounts at `passing` (the data folder itself, where the engine mounts a volume with options) are not
// counted. Containers of `containers` name the namespaces their processes are in.
KernelVolumeVerdict kernelVolumeVerdict(const Platform::HostMounts& host, const QString& dataFolder,
                                        const QList<Container>& containers, const QStringList& own,
                                        const QStringList& passing = {});
