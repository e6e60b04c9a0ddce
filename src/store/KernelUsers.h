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
// in its place with setKernelView, and an empty one puts the real reading back; either may be called
// while plans are made on other threads.
Platform::HostMounts kernelView(std::chrono::milliseconds limit);
void setKernelView(std::function<Platform::HostMounts(std::chrono::milliseconds)> standIn);

// What the kernel's view says of a folder that is otherwise offered for the Trash.
struct KernelVerdict {
    // Why it is not offered: a mount of another process shows it, or a folder inside it. None when
    // none does.
    std::optional<QString> refusal;
    // Said beside an offer that stands, one sentence each: who has a folder above it mounted (what is
    // moved is gone from there too), whose tables could not be read, why the view of the processes is
    // partial, or that the tables could not be read at all, so that the plan claims no more than was seen.
    QStringList notes;
};

// Judges `folder` (every link resolved) by `host`: each other namespace's mount that reaches it is a
// use, named by the container of `containers` whose identifier its process's control group names, or
// as another process's mount. The project's own containers (`own`, identifiers) are not counted, nor
// mounts at `passing`. Only a mount of the folder or of a folder inside it refuses; the rest is said,
// but a folder above held by a container of `saidAbove` (identifiers), which the offer says already.
KernelVerdict kernelVerdict(const Platform::HostMounts& host, const QString& folder,
                            const QList<Container>& containers, const QStringList& own,
                            const QStringList& passing = {}, const QStringList& saidAbove = {});

// Withdraws `offer`, where it offers its folder, for the kernel's refusal, as kernelView(limit) reads
// this machine's tables now; an offer that stands gets the kernel's notes in `offer.notes`, each once,
// and none of a container whose hold from above the offer says already. Returns those notes too (none
// when the offer was withdrawn).
QStringList heedKernel(Docker::TrashOffer& offer, const QList<Container>& containers, const QStringList& own,
                       std::chrono::milliseconds limit, const QStringList& passing = {});

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
    // processes, a data folder not to be found here), one sentence each: a volume cannot come back, so
    // it stays for these too.
    QStringList doubts;
};

// Judges `dataFolder` by `host`. Mounts of the project's own containers (`own`, identifiers) and
// mounts at `passing` (the data folder itself, where the engine mounts a volume with options) are not
// counted. Containers of `containers` name the namespaces their processes are in. The data folder is
// looked up on the disk, every link resolved, as far as this process may look (the engine's own
// folders are closed to others); one that is not there is a doubt.
KernelVolumeVerdict kernelVolumeVerdict(const Platform::HostMounts& host, const QString& dataFolder,
                                        const QList<Container>& containers, const QStringList& own,
                                        const QStringList& passing = {});
