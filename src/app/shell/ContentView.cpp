#include "app/shell/ContentView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/FocusOrder.h"
#include "app/design/PullDownButton.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/parts/Banner.h"
#include "app/parts/Preferences.h"
#include "app/shell/Hosted.h"
#include "app/shell/ImagesView.h"
#include "app/shell/RuntimePicker.h"
#include "app/shell/Sidebar.h"
#include "app/shell/VolumesView.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

constexpr int sidebarMinimum = 190;
constexpr int sidebarIdeal = 210;
constexpr int sidebarMaximum = 260;

} // namespace

ContentView::ContentView(AppStore& store, ToolchainStore& toolchain, Preferences& preferences,
                         QWidget* parent)
    : QMainWindow(parent), m_store(store), m_toolchain(toolchain), m_preferences(preferences),
      m_category(preferences.category())
{
    setObjectName(QStringLiteral("mainWindow"));
    setMinimumSize(640, 480);
    resize(defaultWidth, defaultHeight);
    setWindowTitle(rawValue(m_category));

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("splitView"));
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    m_sidebar = new Sidebar(m_store, m_category, split);
    m_sidebar->setMinimumWidth(sidebarMinimum);
    m_sidebar->setMaximumWidth(sidebarMaximum);
    connect(m_sidebar, &Sidebar::chosen, this, &ContentView::setCategory);
    split->addWidget(m_sidebar);

    auto* column = new QWidget(split);
    column->setObjectName(QStringLiteral("detailColumn"));
    m_detailLayout = new QVBoxLayout(column);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    m_detailLayout->setSpacing(0);

    m_errorBanner = Banner::error(column);
    connect(m_errorBanner->button(QStringLiteral("dismissErrorButton")), &VoskButton::clicked, this,
            [this] { m_store.dismissError(); });
    m_noticeBanner = Banner::notice(column);
    connect(m_noticeBanner->button(QStringLiteral("dismissNoticeButton")), &VoskButton::clicked, this,
            [this] { m_store.dismissNotice(); });
    m_updateBanner = Banner::update(column);
    connect(m_updateBanner->button(QStringLiteral("updateInSettingsButton")), &VoskButton::clicked, this,
            &ContentView::settingsRequested);
    connect(m_updateBanner->button(QStringLiteral("dismissUpdateButton")), &VoskButton::clicked, this,
            [this] { m_toolchain.dismissNotice(); });
    for (Banner* banner : {m_errorBanner, m_noticeBanner, m_updateBanner})
        m_detailLayout->addWidget(banner);
    split->addWidget(column);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({sidebarIdeal, defaultWidth - sidebarIdeal});
    setCentralWidget(split);

    buildToolbar();
    buildMenu();
    showSection();

    connect(&m_store, &AppStore::errorChanged, this, &ContentView::followBanners);
    connect(&m_store, &AppStore::noticeChanged, this, &ContentView::followBanners);
    connect(&m_toolchain, &ToolchainStore::toolsChanged, this, &ContentView::followUpdates);
    connect(&m_toolchain, &ToolchainStore::dismissedChanged, this, &ContentView::followUpdates);
    connect(&m_store, &AppStore::busyChanged, this, &ContentView::followBusy);
    connect(&m_store, &AppStore::filterChanged, this, &ContentView::followFilter);
    connect(&m_preferences, &Preferences::categoryChanged, this,
            [this] { setCategory(m_preferences.category()); });
    followBanners();
    followUpdates();
    followBusy();
    followFilter();
}

void ContentView::buildToolbar()
{
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setVisible(false);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, bar);
    setUnifiedTitleAndToolBarOnMac(true);

    m_picker = new RuntimePicker(m_store, TextStyles::monoField, bar);
    bar->addWidget(m_picker);

    QAction* refresh = bar->addAction(Symbols::icon(QStringLiteral("arrow.clockwise"), Vosk::ink),
                                      QStringLiteral("Refresh"), this, &ContentView::refreshNow);
    refresh->setToolTip(QStringLiteral("Refresh now"));
    QWidget* refreshButton = bar->widgetForAction(refresh);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    // A tool bar's buttons take no focus of their own; this one is a stop for Tab like its neighbours.
    refreshButton->setFocusPolicy(Qt::TabFocus);

    m_addProject = new PullDownButton(QStringLiteral("plus"), QStringLiteral("Add project"), bar);
    m_addProject->setObjectName(QStringLiteral("addProjectButton"));
    m_addProject->setToolTip(QStringLiteral("Add a project from a folder, or clone one"));
    auto* menu = new QMenu(m_addProject);
    menu->setObjectName(QStringLiteral("addProjectMenu"));
    menu->addAction(QStringLiteral("From a folder…"), this, [this] { Hosted::addProject(m_store, this); })
        ->setObjectName(QStringLiteral("addFromFolderAction"));
    menu->addAction(QStringLiteral("Clone a git repository…"), this,
                    [this] { Hosted::openCloneProject(m_store, this); })
        ->setObjectName(QStringLiteral("cloneAction"));
    m_addProject->setMenu(menu);
    m_addProjectItem = bar->addWidget(m_addProject);

    m_busy = new BusyIndicator(bar);
    m_busy->setObjectName(QStringLiteral("busyIndicator"));
    m_busyItem = bar->addWidget(m_busy);

    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    m_filter = new QLineEdit(bar);
    m_filter->setObjectName(QStringLiteral("filterField"));
    m_filter->setPlaceholderText(QStringLiteral("Filter containers"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setFixedWidth(220);
    connect(m_filter, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_store.setFilter(text); });
    bar->addWidget(m_filter);
}

void ContentView::buildMenu()
{
    QMenu* app = menuBar()->addMenu(QStringLiteral("&Voskel"));
    QAction* settings = app->addAction(QStringLiteral("Settings…"), this, &ContentView::settingsRequested);
    settings->setObjectName(QStringLiteral("settingsAction"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setShortcutContext(Qt::ApplicationShortcut);
    app->addSeparator();
    QAction* quit = app->addAction(QStringLiteral("Quit"), this, &ContentView::quitRequested);
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(quitShortcut());
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::QuitRole);
    settings->setMenuRole(QAction::PreferencesRole);
}

void ContentView::setCategory(Category category)
{
    if (category == m_category && m_detail)
        return;
    m_category = category;
    m_preferences.setCategory(category);
    m_sidebar->setCategory(category);
    showSection();
}

void ContentView::showSection()
{
    setWindowTitle(rawValue(m_category));
    m_addProjectItem->setVisible(m_category == Category::projects);
    // A new screen each time: what was half done on the one left behind is dropped with it.
    if (m_detail) {
        m_detailLayout->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    QWidget* column = m_errorBanner->parentWidget();
    switch (m_category) {
    case Category::projects:
        m_detail = Hosted::projectsScreen(m_store, column);
        break;
    case Category::containers:
        m_detail = Hosted::containersScreen(m_store, column);
        break;
    case Category::images:
        m_detail = new ImagesView(m_store, column);
        break;
    case Category::volumes:
        m_detail = new VolumesView(m_store, column);
        break;
    }
    m_detail->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_detailLayout->addWidget(m_detail, 1);
    m_detail->show();
}

void ContentView::followBusy()
{
    m_busyItem->setVisible(m_store.busy());
}

void ContentView::followFilter()
{
    if (m_filter->text() != m_store.filter())
        m_filter->setText(m_store.filter());
}

void ContentView::followBanners()
{
    m_errorBanner->setMessage(m_store.error());
    m_noticeBanner->setMessage(m_store.notice());
}

void ContentView::followUpdates()
{
    const bool pending = !m_toolchain.pendingUpdates().isEmpty();
    m_updateBanner->setMessage(pending ? std::optional<QString>(m_toolchain.noticeText()) : std::nullopt);
}

void ContentView::refreshNow()
{
    m_store.refreshNow();
}

void ContentView::showEvent(QShowEvent* event)
{
    // Before the window gives the focus to its first control.
    FocusOrder::follow(this);
    QMainWindow::showEvent(event);
    m_store.setWindowVisible(true);
    emit shown();
}

void ContentView::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    m_store.setWindowVisible(false);
}

void ContentView::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}
