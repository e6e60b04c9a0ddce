#include "app/shell/MenuBarExtra.h"

#include "app/design/Symbols.h"
#include "app/design/Vosk.h"
#include "app/parts/EmptyState.h"
#include "app/shell/MenuBarView.h"
#include "app/shell/MenuRow.h"
#include "app/shell/RuntimePicker.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include <QActionGroup>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace {

QString escapedForAction(QString text)
{
    return text.replace(u'&', QStringLiteral("&&"));
}

} // namespace

MenuBarExtra::MenuBarExtra(AppStore& store, ToolchainStore& toolchain, QObject* parent)
    : QObject(parent), m_store(store), m_toolchain(toolchain), m_tray(new QSystemTrayIcon(this)),
      m_menu(new QMenu)
{
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_tray->setIcon(icon());
    m_tray->setToolTip(QStringLiteral("Voskel"));
    m_tray->setContextMenu(m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        emit opened();
        fillMenu();
    });
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showPanel();
    });
    fillMenu();
    m_tray->show();
}

MenuBarExtra::~MenuBarExtra()
{
    delete m_panel;
    delete m_menu;
}

QIcon MenuBarExtra::icon()
{
    return Symbols::paintedIcon(
        [](QPainter& painter, const QRect& rect, QIcon::Mode) {
            painter.setRenderHint(QPainter::Antialiasing);
            const double side = std::min(rect.width(), rect.height());
            const QRectF box(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2,
                             side, side);
            const double inset = side * 0.04;
            painter.fillPath(Vosk::roundedRect(box.adjusted(inset, inset, -inset, -inset), side * 0.22),
                             Vosk::ion.color());
            Symbols::paint(painter, QStringLiteral("shippingbox"), box, side * 0.62, Vosk::onAccent.color());
        },
        QStringLiteral("voskel-mark"));
}

MenuBarView* MenuBarExtra::panelView() const
{
    return m_panel ? m_panel->findChild<MenuBarView*>() : nullptr;
}

void MenuBarExtra::showPanel()
{
    if (!m_panel) {
        m_panel = new QWidget(nullptr, Qt::Popup);
        m_panel->setObjectName(QStringLiteral("trayPanel"));
        m_panel->setWindowTitle(QStringLiteral("Voskel"));
        auto* layout = new QVBoxLayout(m_panel);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* view = new MenuBarView(m_store, m_toolchain, m_panel);
        layout->addWidget(view);
        const auto closeThen = [this](void (MenuBarExtra::*signal)()) {
            return [this, signal] {
                m_panel->hide();
                emit(this->*signal)();
            };
        };
        connect(view, &MenuBarView::openRequested, this, closeThen(&MenuBarExtra::openRequested));
        connect(view, &MenuBarView::settingsRequested, this, closeThen(&MenuBarExtra::settingsRequested));
        connect(view, &MenuBarView::quitRequested, this, closeThen(&MenuBarExtra::quitRequested));
    }
    emit opened();
    m_panel->adjustSize();
    // Beside the icon where the tray says where it is, else at the pointer; always on the screen.
    const QRect iconArea = m_tray->geometry();
    const QPoint anchor = iconArea.isValid() ? iconArea.bottomLeft() : QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QRect frame(anchor, m_panel->size());
    if (screen) {
        const QRect room = screen->availableGeometry();
        if (frame.bottom() > room.bottom())
            frame.moveBottom(iconArea.isValid() ? iconArea.top() : room.bottom());
        frame.moveRight(std::min(frame.right(), room.right()));
        frame.moveLeft(std::max(frame.left(), room.left()));
        frame.moveTop(std::max(frame.top(), room.top()));
    }
    m_panel->move(frame.topLeft());
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void MenuBarExtra::fillMenu()
{
    m_menu->clear();
    // clear() leaves a submenu alive, as the menu owns the submenu but not its entry: without this,
    // every opening would keep one more runtime menu with its entries until the icon goes.
    delete m_runtimes;
    // The runtime choice, as in the panel's picker.
    QMenu* runtimes = m_menu->addMenu(QStringLiteral("Runtime"));
    m_runtimes = runtimes;
    runtimes->setObjectName(QStringLiteral("trayRuntimeMenu"));
    auto* group = new QActionGroup(runtimes);
    const QString selection = m_store.selection();
    for (const RuntimePicker::Entry& entry : RuntimePicker::entries(m_store)) {
        if (entry.tag == AppStore::allRuntimesTag())
            runtimes->addSeparator();
        QAction* choice = runtimes->addAction(escapedForAction(entry.text));
        choice->setCheckable(true);
        choice->setChecked(entry.tag == selection);
        choice->setActionGroup(group);
        const QString tag = entry.tag;
        connect(choice, &QAction::triggered, this, [this, tag] { m_store.select(tag); });
    }
    runtimes->setEnabled(!runtimes->isEmpty());
    m_menu->addSeparator();

    if (!m_toolchain.pendingUpdates().isEmpty()) {
        QAction* update = m_menu->addAction(
            Symbols::icon(QStringLiteral("arrow.down.circle"), Vosk::badgeInk),
            escapedForAction(m_toolchain.noticeText()), this, &MenuBarExtra::settingsRequested);
        update->setObjectName(QStringLiteral("updateAction"));
        m_menu->addSeparator();
    }

    // Each container with the action its state calls for, under its group's name.
    for (const MenuBarView::Line& line : MenuBarView::lines(m_store)) {
        if (line.kind == MenuBarView::Line::Kind::header) {
            const QString title = line.counts.isEmpty()
                                      ? line.title.toUpper()
                                      : line.title.toUpper() + QStringLiteral("  ") + line.counts;
            m_menu->addSection(escapedForAction(title));
            continue;
        }
        const Container container = line.container;
        const QString word = MenuRow::actionTitle(container.state);
        QAction* act = m_menu->addAction(escapedForAction(word + QStringLiteral(" ") + container.name));
        act->setObjectName(QStringLiteral("containerAction"));
        connect(act, &QAction::triggered, this, [this, container] { MenuRow::perform(m_store, container); });
    }
    if (m_store.containers().isEmpty())
        m_menu
            ->addAction(
                escapedForAction(EmptyState::unlisted(m_store).value_or(QStringLiteral("No containers"))))
            ->setEnabled(false);
    m_menu->addSeparator();

    m_menu->addAction(QStringLiteral("Open Voskel"), this, &MenuBarExtra::openRequested)
        ->setObjectName(QStringLiteral("openAction"));
    m_menu->addAction(QStringLiteral("Settings…"), this, &MenuBarExtra::settingsRequested)
        ->setObjectName(QStringLiteral("settingsAction"));
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit"), this, &MenuBarExtra::quitRequested)
        ->setObjectName(QStringLiteral("quitAction"));
}
