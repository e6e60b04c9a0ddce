#include "screens/DeleteProjectView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/Divider.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "platform/TimedRunner.h"
#include "screens/DeleteProjectContent.h"
#include "sheets/Band.h"
#include "sheets/SheetHost.h"
#include "sheets/SheetParts.h"
#include "store/AppStore.h"
#include "store/FreshPlan.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QStackedLayout>
#include <QVBoxLayout>

DeleteProjectView::DeleteProjectView(AppStore& store, const ComposeProject& project,
                                     std::optional<TeardownPlan> previewPlan, QWidget* parent)
    : QDialog(parent), m_store(store), m_project(store.wholeProject(project)),
      m_preview(previewPlan.has_value())
{
    setObjectName(QStringLiteral("deleteProjectSheet"));
    setWindowTitle(QStringLiteral("Delete ") + m_project.displayName());
    setFixedSize(size);

    QWidget* header = this->header(m_project.displayName(), this);

    auto* workingOut = new QWidget(this);
    auto* waiting = new QVBoxLayout(workingOut);
    waiting->setSpacing(10);
    waiting->addStretch(1);
    waiting->addWidget(new BusyIndicator(workingOut), 0, Qt::AlignHCenter);
    auto* waitingText = new VoskLabel(QStringLiteral("Working out what this would remove…"),
                                      TextStyles::caption, Vosk::muted, workingOut);
    waitingText->setObjectName(QStringLiteral("workingOutLabel"));
    waiting->addWidget(waitingText, 0, Qt::AlignHCenter);
    waiting->addStretch(1);

    auto* footer = new Band(Vosk::chrome, 8, this);
    m_busy = new BusyIndicator(footer);
    m_busy->setObjectName(QStringLiteral("workingIndicator"));
    m_busy->hide();
    m_cancel =
        new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, std::nullopt, footer);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_delete = new VoskButton(deleteLabel(std::nullopt, false), VoskButtonStyle::Variant::danger,
                              std::nullopt, footer);
    m_delete->setObjectName(QStringLiteral("deleteButton"));
    footer->row()->addWidget(m_busy, 0, Qt::AlignVCenter);
    footer->row()->addStretch(1);
    footer->row()->addWidget(m_cancel, 0, Qt::AlignVCenter);
    footer->row()->addWidget(m_delete, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(new Divider(this));
    m_body = new QStackedLayout;
    m_body->addWidget(workingOut);
    column->addLayout(m_body, 1);
    column->addWidget(new Divider(this));
    column->addWidget(footer);

    connect(m_cancel, &VoskButton::clicked, this, &DeleteProjectView::reject);
    connect(m_delete, &VoskButton::clicked, this, &DeleteProjectView::confirm);
    // Sizes measured after the plan was made.
    connect(&m_store, &AppStore::usageChanged, this, &DeleteProjectView::fillSizes);

    // A preview plan is there at once: the screenshots draw the sheet without ever showing it.
    if (previewPlan)
        setPlan(*previewPlan);
    updateFooter();
}

DeleteProjectView::~DeleteProjectView()
{
    if (m_planning)
        m_planning->cancel();
}

QWidget* DeleteProjectView::header(const QString& projectName, QWidget* parent)
{
    auto* header = new Band(Vosk::chrome, 10, parent);
    header->row()->addWidget(new SymbolView(QStringLiteral("trash"), 13, Vosk::errInk, header), 0,
                             Qt::AlignVCenter);
    header->row()->addWidget(SheetParts::title(QStringLiteral("Delete ") + projectName, header), 1,
                             Qt::AlignVCenter);
    return header;
}

DeleteProjectView* DeleteProjectView::open(QWidget* over, AppStore& store, const ComposeProject& project)
{
    return SheetHost::open(over, new DeleteProjectView(store, project));
}

void DeleteProjectView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ringCancel();
    if (m_started || m_preview)
        return;
    m_started = true;
    m_planning = std::make_shared<Platform::Cancellation>();
    workOut(this, &m_store, m_project, m_planning);
}

QCoro::Task<> DeleteProjectView::workOut(QPointer<DeleteProjectView> view, QPointer<AppStore> store,
                                         ComposeProject project,
                                         std::shared_ptr<Platform::Cancellation> cancel)
{
    if (!store)
        co_return;
    auto planning = store->teardownPlan(project, cancel);
    TeardownPlan plan = co_await std::move(planning);
    // A sheet closed meanwhile lets the plan go.
    if (!view)
        co_return;
    view->setPlan(plan);
}

void DeleteProjectView::showChanged(TeardownPlan plan)
{
    // The project is as it was, and somebody else took to its folder meanwhile: the plan says who,
    // not that the project changed.
    bool folderTaken = false;
    if (m_plan && m_plan->workingDir && sameRemoval(*m_plan, plan, false)) {
        // "<folder> is not offered for the Trash: " and the reason
        const QString refused = Platform::notOfferedMessage(*m_plan->workingDir, QString()).chopped(1);
        for (QString& note : plan.notes)
            if (note.startsWith(refused + QStringLiteral("used by "))) {
                note = QStringLiteral("%1 is now %2").arg(*m_plan->workingDir, note.mid(refused.size()));
                folderTaken = true;
            }
    }
    if (!folderTaken)
        plan.notes.prepend(QStringLiteral("The project changed since this plan was made."));
    // The choice was made for the folder shown: another one there now (the first renamed away, a new
    // one made under its name) is the user's to choose anew.
    if (!m_plan || !plan.folder || plan.folder != m_plan->folder || plan.workingDir != m_plan->workingDir)
        m_trashDirectory = false;
    setPlan(plan);
}

void DeleteProjectView::setPlan(const TeardownPlan& plan)
{
    m_plan = plan;
    m_trashDirectory = m_trashDirectory && plan.workingDir.has_value();
    m_content = new DeleteProjectContent(plan, m_trashDirectory);
    connect(m_content, &DeleteProjectContent::trashDirectoryChanged, this,
            &DeleteProjectView::setTrashDirectory);
    // A plan made again replaces the one shown.
    if (QWidget* shown = findChild<QScrollArea*>(QStringLiteral("planScroll"), Qt::FindDirectChildrenOnly)) {
        m_body->removeWidget(shown);
        // Out of the sheet at once: until it is deleted, it would still be found among the sheet's parts.
        shown->hide();
        shown->setParent(nullptr);
        shown->deleteLater();
    }
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("planScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    scroll->setFocusPolicy(Qt::ClickFocus);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidget(m_content);
    m_body->addWidget(scroll);
    m_body->setCurrentWidget(scroll);
    fillSizes();
    updateFooter();
}

void DeleteProjectView::fillSizes()
{
    if (!m_plan || m_preview)
        return;
    const QMap<QString, QString> sizes = m_store.volumeSizes(m_project.runtime);
    bool filled = false;
    bool unmeasured = false;
    for (VolumeUse& volume : m_plan->volumes) {
        if (volume.size)
            continue;
        if (const auto size = sizes.constFind(volume.name); size != sizes.cend()) {
            volume.size = *size;
            filled = true;
        } else if (!m_store.usage() || !m_store.usage()->volumeBytes(volume.name, m_project.runtime)) {
            unmeasured = true;
        }
    }
    if (filled)
        m_content->showSizes(*m_plan);
    // The store measures disk usage only now and then, and not while the window is hidden: a plan made
    // before it did, or before these volumes existed, would otherwise show no sizes at all.
    if (unmeasured && !m_askedForUsage) {
        m_askedForUsage = true;
        m_store.loadUsage(); // runs on by itself; usageChanged brings the sizes
    }
}

void DeleteProjectView::setTrashDirectory(bool on)
{
    on = on && m_plan && m_plan->workingDir;
    if (on == m_trashDirectory)
        return;
    m_trashDirectory = on;
    if (m_content)
        m_content->setTrashDirectory(on);
    updateFooter();
}

QString DeleteProjectView::deleteLabel(const std::optional<TeardownPlan>& plan, bool trashDirectory)
{
    if (!plan)
        return QStringLiteral("Delete");
    QStringList parts;
    const auto counted = [](qsizetype n, const QString& what) {
        return QStringLiteral("%1 %2%3").arg(n).arg(what, n == 1 ? QString() : QStringLiteral("s"));
    };
    if (!plan->containers.isEmpty())
        parts << counted(plan->containers.size(), QStringLiteral("container"));
    if (const qsizetype removable = plan->removable().size(); removable > 0)
        parts << counted(removable, QStringLiteral("volume"));
    if (trashDirectory)
        parts << QStringLiteral("files");
    if (parts.isEmpty())
        return QStringLiteral("Remove from Voskel");
    return QStringLiteral("Delete ") + parts.join(QStringLiteral(" + "));
}

void DeleteProjectView::confirm()
{
    if (!m_plan || m_working)
        return;
    setWorking(true);
    const std::optional<Runtime> on = m_project.runtime ? m_project.runtime : m_store.runtime();
    carryOut(this, &m_store, *m_plan, on, m_trashDirectory);
}

QCoro::Task<> DeleteProjectView::carryOut(QPointer<DeleteProjectView> view, QPointer<AppStore> store,
                                          TeardownPlan plan, std::optional<Runtime> on, bool trashDirectory)
{
    std::optional<TeardownPlan> changed;
    if (store) {
        auto deleting = store->deleteProject(plan, on, trashDirectory);
        changed = co_await std::move(deleting);
    }
    if (!view)
        co_return;
    view->setWorking(false);
    // Nothing went: the user sees what deleting would remove now, and confirms that instead.
    if (changed && store) {
        view->showChanged(*changed);
        co_return;
    }
    view->accept();
}

void DeleteProjectView::reject()
{
    if (m_working)
        return;
    QDialog::reject();
}

void DeleteProjectView::done(int result)
{
    // A compose that hangs (a .env that is a named pipe) would otherwise keep its child and a worker
    // for good, one more for every time the sheet is opened and closed.
    if (m_planning)
        m_planning->cancel();
    QDialog::done(result);
}

void DeleteProjectView::setWorking(bool working)
{
    m_working = working;
    m_busy->setVisible(working);
    updateFooter();
    // The buttons were disabled under the focus, which went wherever Qt put it. A sheet still open
    // after the work asks anew, about the plan made again, and so starts where it opened.
    if (!working && isVisible())
        ringCancel();
}

void DeleteProjectView::ringCancel()
{
    // The other answer destroys: a Return pressed without a look cancels. The ring shows where it goes
    // from the moment the sheet opens, as in the alerts, not only after a Tab.
    m_cancel->setFocus(Qt::OtherFocusReason);
    setAttribute(Qt::WA_KeyboardFocusChange);
    m_cancel->update();
}

void DeleteProjectView::updateFooter()
{
    m_cancel->setEnabled(!m_working);
    m_delete->setEnabled(m_plan && !m_working);
    const QString label = deleteLabel(m_plan, m_trashDirectory);
    if (m_delete->text() != label) {
        m_delete->setText(label);
        m_delete->updateGeometry();
    }
}
