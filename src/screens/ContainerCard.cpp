#include "screens/ContainerCard.h"

#include "app/design/FlowLayout.h"
#include "app/design/StatStrip.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/AddressPill.h"
#include "app/parts/ContainerDot.h"
#include "app/parts/IPPill.h"
#include "app/parts/StateAction.h"
#include "engine/Stats.h"
#include "platform/ByteCount.h"
#include "screens/ContainerMenu.h"
#include "screens/ContainerSheets.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {

const QString separator = QStringLiteral(" \u00B7 ");

// The state's dot: filled in the container's status colour while it is live, else a hollow muted ring.
class StateDot : public QWidget {
public:
    explicit StateDot(QWidget* parent) : QWidget(parent) { setFixedSize(7, 7); }

    void set(bool filled, const Token* fill)
    {
        if (filled == m_filled && fill == m_fill)
            return;
        m_filled = filled;
        m_fill = fill;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_filled && m_fill) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(m_fill->color());
            painter.drawEllipse(QRectF(rect()));
            return;
        }
        // 6 across, its 1.5-wide stroke inside that box.
        painter.setPen(QPen(Vosk::muted.color(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(0.5, 0.5, 6, 6).adjusted(0.75, 0.75, -0.75, -0.75));
    }

private:
    bool m_filled = false;
    const Token* m_fill = nullptr;
};

QString withoutHealth(QString status)
{
    status.remove(QStringLiteral(" (healthy)"));
    status.remove(QStringLiteral(" (unhealthy)"));
    return status;
}

void setTip(QWidget* widget, const QString& text)
{
    const QString tip = Vosk::toolTip(text);
    if (widget->toolTip() != tip)
        widget->setToolTip(tip);
}

} // namespace

ContainerCard::Face ContainerCard::face(const AppStore& store, const Container& c, bool inProject)
{
    Face f;
    const bool running = c.state == u"running";
    const bool paused = c.state == u"paused";
    f.title = inProject ? c.service().value_or(c.name) : c.name;
    if (inProject) {
        f.detail = c.name + separator + c.image;
    } else {
        const std::optional<QString> project = c.project();
        f.detail = (project ? ComposeProject::displayName(*project) : QStringLiteral("no project")) +
                   separator + c.image;
        if (store.showAll() && c.runtime)
            f.detail = c.runtime->name + separator + f.detail;
    }
    f.troubled = c.isTroubled();
    if (running && c.status.contains(u"(unhealthy)")) {
        f.state = Face::State::unhealthy;
    } else if (c.isFailed()) {
        f.state = Face::State::failed;
    } else {
        f.dotFilled = running || paused;
        f.dot = f.dotFilled ? &dot(c) : nullptr;
        f.stateLabel = paused    ? QStringLiteral("Paused")
                       : running ? (c.status.contains(u"(healthy)") ? QStringLiteral("Healthy")
                                                                    : QStringLiteral("Running"))
                                 : QStringLiteral("Stopped");
        f.stateSuccess = running;
    }
    f.statusText = withoutHealth(c.status);
    f.ports = c.hostPorts();
    f.live = running;
    f.ip = store.address(c);
    if (const std::optional<LiveStats>& stats = store.stats()) {
        const QStringList one{c.name};
        if (const std::optional<double> cpu = stats->cpuOf(one))
            f.cpu = Docker::percent(*cpu);
        if (const std::optional<qint64> memory = stats->memoryOf(one))
            f.memory = Platform::memorySize(*memory);
    }
    if (const std::optional<DiskUsage>& usage = store.usage()) {
        f.disk = Platform::diskFigure(usage->containerBytes(c.name, c.runtime));
    }
    f.stateButton = StateAction::title(c.state);
    f.restartEnabled = running;
    return f;
}

QString ContainerCard::key(const Container& c)
{
    return Docker::runtimeId(c.runtime) + QLatin1Char('/') + c.id;
}

ContainerCard::ContainerCard(AppStore& store, const Container& c, bool inProject, QWidget* parent)
    : VoskCard(parent), m_store(store), m_container(c), m_inProject(inProject)
{
    setObjectName(QStringLiteral("containerCard"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    m_title = new VoskLabel(QString(), TextStyles::containerTitle, Vosk::ink, this);
    m_title->setObjectName(QStringLiteral("titleLabel"));
    m_title->setElideMode(Qt::ElideMiddle);
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    titleRow->addWidget(m_title, 1);
    titleRow->addSpacing(4);
    m_badge = new VoskBadge(QString(), Vosk::errFill, Vosk::errInk, this);
    m_badge->setObjectName(QStringLiteral("stateBadge"));
    titleRow->addWidget(m_badge);
    m_plainState = new QWidget(this);
    auto* plainRow = new QHBoxLayout(m_plainState);
    plainRow->setContentsMargins(0, 0, 0, 0);
    plainRow->setSpacing(6);
    m_dot = new StateDot(m_plainState);
    plainRow->addWidget(m_dot, 0, Qt::AlignVCenter);
    m_stateLabel = new VoskLabel(QString(), TextStyles::label, Vosk::muted, m_plainState);
    m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
    plainRow->addWidget(m_stateLabel);
    titleRow->addWidget(m_plainState);
    column->addLayout(titleRow);

    m_detail = new VoskLabel(QString(), TextStyles::mono, Vosk::muted, this);
    m_detail->setObjectName(QStringLiteral("detailLabel"));
    m_detail->setElideMode(Qt::ElideMiddle);
    m_detail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(m_detail);

    auto* flowBox = new QWidget(this);
    m_flow = new FlowLayout(6, flowBox);
    m_status = new VoskLabel(QString(), TextStyles::caption, Vosk::muted, flowBox);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setFixedHeight(22);
    m_flow->addWidget(m_status);
    column->addWidget(flowBox);

    m_figures = new StatStrip(std::nullopt, std::nullopt, std::nullopt, this);
    m_figures->setObjectName(QStringLiteral("figuresStrip"));
    column->addWidget(m_figures);
    column->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    m_stateButton = new VoskButton(QString(), VoskButtonStyle::Variant::quiet, 50, this);
    m_restart =
        new VoskButton(QStringLiteral("Restart"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    m_restart->setObjectName(QStringLiteral("restartButton"));
    m_logs = new VoskButton(QStringLiteral("Logs"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    m_logs->setObjectName(QStringLiteral("logsButton"));
    m_menu = new ContainerMenu(store, c, this);
    buttons->addWidget(m_stateButton);
    buttons->addWidget(m_restart);
    buttons->addWidget(m_logs);
    buttons->addStretch(1);
    buttons->addWidget(m_menu);
    column->addLayout(buttons);

    connect(m_stateButton, &QAbstractButton::clicked, this, &ContainerCard::pressState);
    connect(m_restart, &QAbstractButton::clicked, this, [this] { m_store.restart(m_container); });
    connect(m_logs, &QAbstractButton::clicked, this, &ContainerCard::openLogs);

    setContainer(c);
}

void ContainerCard::setContainer(const Container& c)
{
    m_container = c;
    // The menu's items follow the state and the kind of the runtime, which may change without the
    // container changing.
    m_menu->setContainer(c);
    apply(face(m_store, c, m_inProject));
}

void ContainerCard::apply(const Face& f)
{
    const bool first = !m_applied;
    if (!first && f == m_face)
        return;
    m_applied = true;
    const Face was = std::exchange(m_face, f);
    const auto changed = [first](const auto& now, const auto& before) { return first || !(now == before); };

    if (changed(f.title, was.title)) {
        m_title->setPlainText(f.title);
        setAccessibleName(f.title);
    }
    setTip(m_title, m_container.name);
    if (changed(f.detail, was.detail)) {
        m_detail->setPlainText(f.detail);
        setTip(m_detail, f.detail);
    }
    if (changed(f.troubled, was.troubled))
        setEdge(f.troubled ? Vosk::errLine : Vosk::line);
    if (changed(f.state, was.state) || changed(f.stateLabel, was.stateLabel) || changed(f.dot, was.dot) ||
        changed(f.dotFilled, was.dotFilled) || changed(f.stateSuccess, was.stateSuccess)) {
        const bool plain = f.state == Face::State::plain;
        m_badge->setVisible(!plain);
        m_plainState->setVisible(plain);
        if (!plain)
            m_badge->setText(f.state == Face::State::unhealthy ? QStringLiteral("Unhealthy")
                                                               : QStringLiteral("Exited with error"));
        static_cast<StateDot*>(m_dot)->set(f.dotFilled, f.dot);
        m_stateLabel->setPlainText(f.stateLabel);
        m_stateLabel->setInk(f.stateSuccess ? Vosk::success : Vosk::muted);
    }
    if (changed(f.statusText, was.statusText))
        m_status->setPlainText(f.statusText);
    if (changed(f.ports, was.ports) || changed(f.live, was.live) || changed(f.ip, was.ip))
        placePills(f);
    if (changed(f.cpu, was.cpu) || changed(f.memory, was.memory) || changed(f.disk, was.disk))
        m_figures->setFigures(f.cpu, f.memory, f.disk);
    if (changed(f.stateButton, was.stateButton)) {
        m_stateButton->setText(f.stateButton);
        m_stateButton->setObjectName(f.stateButton.toLower() + QStringLiteral("Button"));
    }
    if (changed(f.restartEnabled, was.restartEnabled))
        m_restart->setEnabled(f.restartEnabled);
}

void ContainerCard::placePills(const Face& f)
{
    QStringList shown;
    for (const AddressPill* pill : std::as_const(m_pills))
        shown << pill->port();
    if (shown != f.ports) {
        // Ports change only when the container is made anew; rebuilding the few pills is enough.
        qDeleteAll(m_pills);
        m_pills.clear();
        if (m_ip)
            m_flow->removeWidget(m_ip);
        QWidget* box = m_status->parentWidget();
        for (const QString& port : f.ports) {
            auto* pill = new AddressPill(port, f.live, box);
            connect(pill, &AddressPill::openFailed, &m_store, &AppStore::setError);
            m_flow->addWidget(pill);
            m_pills << pill;
        }
        if (m_ip)
            m_flow->addWidget(m_ip);
    }
    for (AddressPill* pill : std::as_const(m_pills))
        pill->setLive(f.live);
    if (f.ip) {
        if (!m_ip) {
            m_ip = new IPPill(*f.ip, m_status->parentWidget());
            m_flow->addWidget(m_ip);
        }
        m_ip->setIp(*f.ip);
        m_ip->show();
    } else if (m_ip) {
        m_ip->hide();
    }
}

void ContainerCard::pressState()
{
    StateAction::perform(m_store, m_container);
}

void ContainerCard::openLogs()
{
    ContainerSheets::logs(this, m_store, m_container);
}
