#pragma once

#include "app/design/PreviewChrome.h"
#include "engine/Container.h"
#include "platform/PreparedProcess.h"

#include <optional>

class AppStore;
class QAction;

// The ellipsis menu of a container card: a command inside it (the exec sheet or a terminal), its
// inspect output, copying its identifier, pausing or resuming, committing it to an image, removing it.
// Pausing, resuming and committing are left out on the Apple runtime. Sheets and alerts opened from
// here keep their own copy of the container and belong to the window, so a card that leaves the grid
// on the next refresh neither closes nor retargets them.
class ContainerMenu : public EllipsisMenuButton {
    Q_OBJECT

public:
    ContainerMenu(AppStore& store, const Container& c, QWidget* parent = nullptr);

    void setContainer(const Container& c);
    const Container& container() const { return m_container; }

    // `docker [--context <name>] exec -it <name> sh` for the container's runtime, with DOCKER_HOST in
    // the environment of a socket runtime: an argument list, never a line for a shell to read.
    static Platform::PreparedProcess terminalCommand(const Container& c,
                                                     const std::optional<Runtime>& runtime);

private:
    std::optional<Runtime> runtime() const;
    void refresh();
    void openTerminal();
    void openExec();
    void openInspect();

    AppStore& m_store;
    Container m_container;
    QAction* m_exec;
    QAction* m_terminal;
    QAction* m_inspect;
    QAction* m_copy;
    QAction* m_engineDivider;
    QAction* m_resume;
    QAction* m_pause;
    QAction* m_commit;
    QAction* m_remove;
};
