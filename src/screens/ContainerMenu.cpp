#include "screens/ContainerMenu.h"

#include "app/design/VoskButton.h"
#include "app/parts/Alert.h"
#include "app/parts/DialogAnswer.h"
#include "app/parts/Host.h"
#include "engine/Docker.h"
#include "screens/ContainerSheets.h"
#include "store/AppStore.h"

#include <QLineEdit>
#include <QMenu>
#include <QPointer>

namespace {

// Asks for the reference to commit `c` under, then commits it. The alert belongs to `window` and acts
// on its own copy of the container, whatever happens to the card that opened it.
QCoro::Task<> askCommit(QPointer<AppStore> store, Container c, QPointer<QWidget> window)
{
    auto* alert = new Alert(QStringLiteral("Commit ") + c.name,
                            QStringLiteral("Saves the container's filesystem as a new image."), window);
    alert->setObjectName(QStringLiteral("commitAlert"));
    QLineEdit* field = alert->addField(QStringLiteral("repository:tag"), QStringLiteral("referenceField"));
    alert->addButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, QDialog::Rejected,
                     QStringLiteral("cancelButton"));
    alert->addButton(QStringLiteral("Commit"), VoskButtonStyle::Variant::accent, QDialog::Accepted,
                     QStringLiteral("commitButton"), true);
    const QPointer<Alert> guard(alert);
    const int answer = co_await answerOf(alert);
    if (!guard)
        co_return;
    const QString reference = field->text();
    guard->deleteLater();
    if (answer == QDialog::Accepted && store)
        store->commit(c, reference);
}

} // namespace

ContainerMenu::ContainerMenu(AppStore& store, const Container& c, QWidget* parent)
    : EllipsisMenuButton(parent), m_store(store), m_container(c)
{
    setObjectName(QStringLiteral("containerMenuButton"));
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("containerMenu"));
    const auto item = [menu](const QString& text, const char* name) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1StringView(name));
        return action;
    };
    m_exec = item(QStringLiteral("Exec\u2026"), "execAction");
    m_terminal = item(QStringLiteral("Open in Terminal"), "terminalAction");
    menu->addSeparator();
    m_inspect = item(QStringLiteral("Inspect\u2026"), "inspectAction");
    m_copy = item(QStringLiteral("Copy container ID"), "copyIdAction");
    m_engineDivider = menu->addSeparator();
    m_resume = item(QStringLiteral("Resume"), "resumeAction");
    m_pause = item(QStringLiteral("Pause"), "pauseAction");
    m_commit = item(QStringLiteral("Commit to image\u2026"), "commitAction");
    menu->addSeparator();
    m_remove = item(QStringLiteral("Remove"), "removeAction");
    setMenu(menu);

    // Every action reads the container at the moment it is chosen: the one the card shows now.
    connect(m_exec, &QAction::triggered, this, &ContainerMenu::openExec);
    connect(m_terminal, &QAction::triggered, this, &ContainerMenu::openTerminal);
    connect(m_inspect, &QAction::triggered, this, &ContainerMenu::openInspect);
    connect(m_copy, &QAction::triggered, this, [this] { Host::current().copy(m_container.id); });
    connect(m_resume, &QAction::triggered, this, [this] { m_store.unpause(m_container); });
    connect(m_pause, &QAction::triggered, this, [this] { m_store.pause(m_container); });
    connect(m_commit, &QAction::triggered, this,
            [this] { askCommit(QPointer<AppStore>(&m_store), m_container, QPointer<QWidget>(window())); });
    connect(m_remove, &QAction::triggered, this, [this] { m_store.remove(m_container); });
    refresh();
}

void ContainerMenu::setContainer(const Container& c)
{
    m_container = c;
    refresh();
}

std::optional<Runtime> ContainerMenu::runtime() const
{
    return m_container.runtime ? m_container.runtime : m_store.runtime();
}

void ContainerMenu::refresh()
{
    const bool running = m_container.state == u"running";
    const bool paused = m_container.state == u"paused";
    const bool engine = !m_store.isApple(runtime());
    const auto set = [](QAction* action, bool visible, bool enabled) {
        if (action->isVisible() != visible)
            action->setVisible(visible);
        if (action->isEnabled() != enabled)
            action->setEnabled(enabled);
    };
    set(m_exec, true, running);
    set(m_terminal, true, running);
    set(m_engineDivider, engine, true);
    set(m_resume, engine && paused, true);
    set(m_pause, engine && !paused, running);
    set(m_commit, engine, true);
}

Platform::PreparedProcess ContainerMenu::terminalCommand(const Container& c,
                                                         const std::optional<Runtime>& runtime)
{
    return Docker::process({QStringLiteral("exec"), QStringLiteral("-it"), c.name, QStringLiteral("sh")},
                           runtime);
}

void ContainerMenu::openTerminal()
{
    if (const std::optional<QString> failure =
            Host::current().openTerminal(terminalCommand(m_container, runtime())))
        m_store.setError(failure);
}

void ContainerMenu::openExec()
{
    ContainerSheets::exec(this, m_store, m_container);
}

void ContainerMenu::openInspect()
{
    ContainerSheets::inspect(this, m_store, m_container);
}
