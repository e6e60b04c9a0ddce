#include "app/shell/MenuBarView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/Divider.h"
#include "app/design/Symbols.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/EmptyState.h"
#include "app/shell/MenuRow.h"
#include "app/shell/RuntimePicker.h"
#include "engine/Listings.h"
#include "store/AppStore.h"
#include "toolchain/ToolchainStore.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

class Dot : public QWidget {
public:
    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(6, 6); }

    void setLit(bool lit)
    {
        if (lit == m_lit)
            return;
        m_lit = lit;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush((m_lit ? Vosk::success : Vosk::muted).color());
        painter.drawEllipse(QRectF(rect()));
    }

private:
    bool m_lit = false;
};

// A group's name in capitals with its running count on the right.
class GroupHeader : public QWidget {
public:
    explicit GroupHeader(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("groupHeader"));
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 2, 0, 0);
        row->setSpacing(6);
        m_title = new VoskLabel({}, TextStyles::groupLabel, Vosk::muted, this);
        m_title->setElideMode(Qt::ElideRight);
        m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        m_counts = new VoskLabel({}, TextStyles::groupCount, Vosk::muted, this);
        row->addWidget(m_title, 1);
        row->addWidget(m_counts);
    }

    void showLine(const MenuBarView::Line& line)
    {
        m_title->setPlainText(line.title);
        m_counts->setPlainText(line.counts);
        m_counts->setVisible(!line.counts.isEmpty());
    }

    QString title() const { return m_title->plainText(); }

private:
    VoskLabel* m_title;
    VoskLabel* m_counts;
};

// The pending-updates row: opens the Settings window.
class UpdateRow : public QAbstractButton {
public:
    UpdateRow(VoskLabel* text, QWidget* parent) : QAbstractButton(parent)
    {
        setObjectName(QStringLiteral("updateRow"));
        setCursor(Qt::PointingHandCursor);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(8, 5, 8, 5);
        row->setSpacing(6);
        row->addWidget(new SymbolView(QStringLiteral("arrow.down.circle"), 11, Vosk::badgeInk, this));
        text->setParent(this);
        text->setElideMode(Qt::ElideRight);
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        text->setAttribute(Qt::WA_TransparentForMouseEvents);
        row->addWidget(text, 1);
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::controlRadius), Vosk::badgeFill.color());
    }
};

QPushButton* footerButton(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFlat(true);
    button->setFont(TextStyles::label.font());
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

MenuBarView::MenuBarView(AppStore& store, ToolchainStore& toolchain, QWidget* parent)
    : QWidget(parent), m_store(store), m_toolchain(toolchain)
{
    setObjectName(QStringLiteral("menuBarView"));
    setFixedWidth(panelWidth);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* picker = new RuntimePicker(m_store, TextStyles::mono, this);
    picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    header->addWidget(picker);
    header->addStretch(1);
    m_busy = new BusyIndicator(this);
    m_busy->setObjectName(QStringLiteral("busyIndicator"));
    header->addWidget(m_busy);
    auto* counter = new QHBoxLayout;
    counter->setSpacing(6);
    m_dot = new Dot(this);
    counter->addWidget(m_dot, 0, Qt::AlignVCenter);
    m_counter = new VoskLabel({}, TextStyles::count, Vosk::muted, this);
    m_counter->setObjectName(QStringLiteral("runningCounter"));
    counter->addWidget(m_counter);
    header->addLayout(counter);
    layout->addLayout(header);

    m_updateText = new VoskLabel({}, TextStyles::labelSmall, Vosk::badgeInk, this);
    m_updateText->setObjectName(QStringLiteral("updateText"));
    auto* update = new UpdateRow(m_updateText, this);
    connect(update, &QAbstractButton::clicked, this, &MenuBarView::settingsRequested);
    m_updateRow = update;
    layout->addWidget(m_updateRow);
    layout->addWidget(new Divider(this));

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("containerList"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    m_scroll->setFocusPolicy(Qt::ClickFocus);
    auto* list = new QWidget(m_scroll);
    m_list = list;
    auto* lines = new QVBoxLayout(list);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(8);
    m_nothing = new VoskLabel(QStringLiteral("No containers"), TextStyles::caption, Vosk::muted, list);
    m_nothing->setObjectName(QStringLiteral("noContainers"));
    lines->addWidget(m_nothing);
    lines->addStretch(1);
    m_scroll->setWidget(list);
    layout->addWidget(m_scroll);
    layout->addWidget(new Divider(this));

    auto* footer = new QHBoxLayout;
    QPushButton* open = footerButton(QStringLiteral("Open Voskel"), QStringLiteral("openButton"), this);
    QPushButton* quit = footerButton(QStringLiteral("Quit"), QStringLiteral("quitButton"), this);
    connect(open, &QPushButton::clicked, this, &MenuBarView::openRequested);
    connect(quit, &QPushButton::clicked, this, &MenuBarView::quitRequested);
    footer->addWidget(open);
    footer->addStretch(1);
    footer->addWidget(quit);
    layout->addLayout(footer);

    // Lines sit before "No containers" and the stretch.
    m_lines = std::make_unique<KeyedRows<Line, QWidget>>(
        lines, [](const Line& line) { return line.key; },
        [this, list](const Line& line) -> QWidget* {
            if (line.kind == Line::Kind::header)
                return new GroupHeader(list);
            return new MenuRow(m_store, line.container, list);
        },
        [](QWidget* widget, const Line& line, int) {
            if (auto* header = dynamic_cast<GroupHeader*>(widget))
                header->showLine(line);
            else if (auto* row = qobject_cast<MenuRow*>(widget))
                row->showContainer(line.container);
        });

    m_changes = new ChangeBatch(this, [this] { follow(); });
    for (const auto changed :
         {&AppStore::containersChanged, &AppStore::filterChanged, &AppStore::registryChanged,
          &AppStore::showAllChanged, &AppStore::runtimeChanged, &AppStore::busyChanged,
          &AppStore::listedChanged, &AppStore::refreshErrorChanged, &AppStore::unansweredChanged})
        m_changes->watch(&m_store, changed);
    connect(&m_toolchain, &ToolchainStore::toolsChanged, this, &MenuBarView::followUpdates);
    connect(&m_toolchain, &ToolchainStore::dismissedChanged, this, &MenuBarView::followUpdates);
    follow();
    followUpdates();
}

MenuBarView::~MenuBarView() = default;

QList<MenuBarView::Line> MenuBarView::lines(const AppStore& store)
{
    QList<Line> result;
    const auto containerLine = [](const Container& c) {
        Line line;
        line.kind = Line::Kind::container;
        line.key = QStringLiteral("c/") + Docker::runtimeId(c.runtime) + u'/' + c.id;
        line.container = c;
        return line;
    };
    for (const ComposeProject& project : store.projects()) {
        Line header;
        header.key = QStringLiteral("p/") + project.id();
        header.title = project.displayName();
        const qint64 total = std::max<qint64>(project.containers.size(), project.serviceCount);
        // A project its runtime has not listed yet runs what nobody knows.
        const bool known = store.hasListed(project.runtime ? project.runtime : store.runtime());
        header.counts = (known ? QString::number(project.runningCount()) : Vosk::absent()) + u'/' +
                        QString::number(total);
        result.append(header);
        for (const Container& c : project.containers)
            result.append(containerLine(c));
    }
    const QList<Container> loose = Docker::ungrouped(store.matchingContainers());
    if (!loose.isEmpty()) {
        Line header;
        header.key = QStringLiteral("other");
        header.title = QStringLiteral("Other");
        result.append(header);
        for (const Container& c : loose)
            result.append(containerLine(c));
    }
    return result;
}

QString MenuBarView::runningText(const AppStore& store)
{
    return QStringLiteral("%1/%2").arg(store.runningCount()).arg(store.containers().size());
}

void MenuBarView::follow()
{
    m_lines->sync(lines(m_store));
    const bool none = m_store.containers().isEmpty();
    // Until the runtime has answered, no container is no count of none.
    m_nothing->setPlainText(EmptyState::unlisted(m_store).value_or(QStringLiteral("No containers")));
    if (m_nothing->isVisibleTo(this) != none)
        m_nothing->setVisible(none);
    // A scroll area asks its content for a size once and keeps that answer: the panel opened before the
    // first listing came would show every later one through a slit. The list is as tall as its lines,
    // up to its limit.
    const int listHeight = std::min(m_list->sizeHint().height(), listMaximumHeight);
    if (m_scroll->minimumHeight() != listHeight || m_scroll->maximumHeight() != listHeight)
        m_scroll->setFixedHeight(listHeight);
    static_cast<Dot*>(m_dot)->setLit(m_store.runningCount() >= 1);
    m_counter->setPlainText(m_store.listed() ? runningText(m_store) : Vosk::absent());
    if (m_busy->isVisibleTo(this) != m_store.busy())
        m_busy->setVisible(m_store.busy());
}

void MenuBarView::followUpdates()
{
    const bool pending = !m_toolchain.pendingUpdates().isEmpty();
    m_updateText->setPlainText(m_toolchain.noticeText());
    if (m_updateRow->isVisibleTo(this) != pending)
        m_updateRow->setVisible(pending);
}
