#include "settings/SettingsWindow.h"

#include "app/design/Divider.h"
#include "app/design/SegmentedControl.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Banner.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/Preferences.h"
#include "settings/LoginToggle.h"
#include "settings/RuntimeToolsSection.h"
#include "settings/SectionLabel.h"
#include "sheets/CommandRunView.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"
#include "toolchain/Toolchain.h"
#include "toolchain/ToolchainStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QScrollArea>
#include <QShortcut>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWindow>

namespace {

QCheckBox* toggle(const QString& text, const QString& name, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setFont(TextStyles::body.font());
    return box;
}

} // namespace

SettingsWindow::SettingsWindow(AppStore& store, ToolchainStore& toolchain, Preferences& preferences,
                               QWidget* parent)
    : SettingsWindow(store, toolchain, preferences, SocketAccess::system(), parent)
{
}

SettingsWindow::SettingsWindow(AppStore& store, ToolchainStore& toolchain, Preferences& preferences,
                               SocketAccess socket, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(store), m_toolchain(toolchain), m_preferences(preferences)
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(fixedSize);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    scroll->setFocusPolicy(Qt::ClickFocus);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->viewport()->setBackgroundRole(QPalette::Window);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    // What fails here is said here: the main window's banner may well be behind this one.
    m_error = Banner::error(this);
    connect(m_error->button(QStringLiteral("dismissErrorButton")), &VoskButton::clicked, this,
            [this] { m_error->setMessage(std::nullopt); });
    outer->addWidget(m_error);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(22);

    auto* appearance = new QVBoxLayout;
    appearance->setSpacing(10);
    appearance->addWidget(new SectionLabel(QStringLiteral("Appearance"), content));
    m_appearance = new SegmentedControl({{QStringLiteral("circle.lefthalf.filled"), QStringLiteral("Auto")},
                                         {QStringLiteral("sun.max"), QStringLiteral("Light")},
                                         {QStringLiteral("moon"), QStringLiteral("Dark")}},
                                        content);
    m_appearance->setObjectName(QStringLiteral("appearancePicker"));
    m_appearance->setAccessibleName(QStringLiteral("Appearance"));
    appearance->addWidget(m_appearance);
    appearance->addWidget(
        noteLabel(QStringLiteral("Auto follows the system setting. Light is the Paper reading "
                                 "of the design, dark is Obsidian — neither is an afterthought."),
                  content));
    column->addLayout(appearance);
    column->addWidget(new Divider(content));

    auto* general = new QVBoxLayout;
    general->setSpacing(10);
    general->addWidget(new SectionLabel(QStringLiteral("General"), content));
    m_showMenuBar = toggle(QStringLiteral("Show tray icon"), QStringLiteral("showMenuBarToggle"), content);
    general->addWidget(m_showMenuBar);
    m_login = new LoginToggle(content);
    general->addWidget(m_login);
    m_checkAtLaunch = toggle(QStringLiteral("Check for runtime updates at launch"),
                             QStringLiteral("checkAtLaunchToggle"), content);
    general->addWidget(m_checkAtLaunch);
    general->addWidget(
        noteLabel(QStringLiteral("Voskel polls the Docker API; there is no event stream on Apple "
                                 "container. The launch check runs at most once a day."),
                  content));
    column->addLayout(general);
    column->addWidget(new Divider(content));

    m_reload = new ChangeBatch(this, [this] { reload(std::exchange(m_afterReload, {})); });

    m_tools = new RuntimeToolsSection(toolchain, preferences, std::move(socket), content);
    column->addWidget(m_tools);
    column->addStretch(1);
    scroll->setWidget(content);

    showPreferences();
    // Filled from the preferences without writing them; only the user's own changes are written.
    connect(&m_preferences, &Preferences::appearanceChanged, this, &SettingsWindow::showPreferences);
    connect(&m_preferences, &Preferences::showMenuBarChanged, this, &SettingsWindow::showPreferences);
    connect(&m_preferences, &Preferences::checkUpdatesAtLaunchChanged, this,
            &SettingsWindow::showPreferences);
    connect(m_appearance, &SegmentedControl::activated, this,
            [this](int index) { m_preferences.setAppearance(allAppearances().value(index)); });
    connect(m_showMenuBar, &QCheckBox::clicked, this,
            [this](bool show) { m_preferences.setShowMenuBar(show); });
    connect(m_checkAtLaunch, &QCheckBox::clicked, this,
            [this](bool check) { m_preferences.setCheckUpdatesAtLaunch(check); });

    connect(m_tools, &RuntimeToolsSection::jobRequested, this, &SettingsWindow::runJob);
    connect(m_tools, &RuntimeToolsSection::openFailed, m_error, &Banner::setMessage);
    connect(m_login, &LoginToggle::openFailed, m_error, &Banner::setMessage);
    connect(m_tools, &RuntimeToolsSection::contextsChanged, this, [this] { m_store.loadContexts(); });
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &SettingsWindow::focusMoved);
    m_focused = QGuiApplication::focusWindow();

    auto* close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::showPreferences()
{
    m_appearance->setCurrentIndex(int(allAppearances().indexOf(m_preferences.appearance())));
    m_showMenuBar->setChecked(m_preferences.showMenuBar());
    m_checkAtLaunch->setChecked(m_preferences.checkUpdatesAtLaunch());
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Restored from the window system (un-minimized) is not opening.
    if (event->spontaneous())
        return;
    // Opening the window always reads the tools afresh, and checks for updates when the last check is
    // a day old; the launch-check preference does not hold this one back.
    scheduleReload({.check = true});
}

bool SettingsWindow::ownsWindow(const QWindow* window) const
{
    for (const QWindow* w = window; w; w = w->transientParent()) {
        if (w == windowHandle())
            return true;
    }
    return false;
}

void SettingsWindow::focusMoved(QWindow* now)
{
    // A window's menu or pop-up list holds the focus while it is open, yet the window it belongs to stays
    // the active one: neither opening it nor going back from it is coming back to the application. A
    // pop-up of its own (the tray's panel) is a window the user comes to.
    if (now && now->transientParent() && (now->type() == Qt::Popup || now->type() == Qt::ToolTip))
        return;
    const QPointer<QWindow> before = m_focused;
    m_focused = now;
    // A closed window is kept for the next opening; meanwhile it reads nothing.
    if (!now || now == before || !isVisible())
        return;
    // Going between this window and its own sheets is not coming back to the application; a closed
    // job sheet reloads by itself.
    if (ownsWindow(now) && (now != windowHandle() || (before && ownsWindow(before))))
        return;
    scheduleReload({});
}

void SettingsWindow::scheduleReload(AfterReload then)
{
    m_afterReload.check = m_afterReload.check || then.check;
    m_afterReload.contexts = m_afterReload.contexts || then.contexts;
    m_reload->schedule();
}

QCoro::Task<> SettingsWindow::reload(AfterReload then)
{
    QPointer<SettingsWindow> self(this);
    // Overlapping loads are the store's to order: only the one started last is applied.
    co_await m_toolchain.load();
    if (!self)
        co_return;
    // A job may have added or removed a runtime (Colima's context, Apple's socket): the tools first,
    // then the runtimes.
    if (then.contexts)
        m_store.loadContexts();
    if (then.check)
        co_await m_toolchain.checkIfStale();
}

Platform::PreparedProcess SettingsWindow::jobProcess(const ToolJob& job)
{
    // Every child leads a process group of its own, so Cancel and closing the sheet end brew, colima
    // and whatever else the shell started, not only the shell.
    return Toolchain::process({QStringLiteral("/bin/sh"), QStringLiteral("-c"), job.script()});
}

void SettingsWindow::runJob(const ToolJob& job)
{
    // One sheet at a time; the sheet keeps the window from asking for another meanwhile anyway.
    if (m_job)
        return;
    m_job = job;
    const quint64 serial = ++m_jobSerial;
    auto* sheet = new CommandRunView(
        job.title(), job.banner(), [job] { return jobProcess(job); },
        [self = QPointer<SettingsWindow>(this)](std::optional<int>) {
            // Whatever became of the job, the tools and the runtimes may have changed.
            if (self)
                self->jobClosed();
        });
    // A cancelled job may still be ending (a child that ignores the request is killed a few seconds
    // later): the new one must not run beside it.
    sheet->startAfter(m_lastJob);
    connect(sheet, &CommandRunView::started, this, [this, sheet] { m_lastJob = sheet->group(); });
    m_sheet = SheetHost::open(this, sheet);
    // A sheet that goes without its own close path (the window closing under it) frees the slot.
    connect(sheet, &QObject::destroyed, this, [this, serial] {
        if (serial == m_jobSerial)
            m_job.reset();
    });
}

void SettingsWindow::jobClosed()
{
    m_job.reset();
    scheduleReload({.contexts = true});
}
