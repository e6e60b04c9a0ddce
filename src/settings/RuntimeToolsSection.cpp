#include "settings/RuntimeToolsSection.h"

#include "app/design/BusyIndicator.h"
#include "app/design/Symbols.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskCard.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/Preferences.h"
#include "app/parts/StatusDot.h"
#include "settings/BuilderRow.h"
#include "settings/SectionLabel.h"
#include "settings/ToolRow.h"
#include "sheets/LogsView.h"
#include "sheets/SheetHost.h"
#include "toolchain/ToolchainStore.h"

#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>
#include <QVBoxLayout>

namespace {

// The restart notice's ground: the caution fill on a rounded strip.
class Strip : public QWidget {
public:
    explicit Strip(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::stripRadius), Vosk::badgeFill.color());
    }
};

void setShown(QWidget* widget, bool shown)
{
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

// Later, not now: the card may be the sender of what led here.
template <typename Row>
void retire(QPointer<Row>& row)
{
    row->hide();
    row->deleteLater();
    row = nullptr;
}

// The time of day in the user's short way of writing it, without seconds even where the locale's
// short form has them (the C locale's does).
QString clock(const QTime& time)
{
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[:.]ss?"));
    format.remove(seconds);
    return locale.toString(time, format);
}

} // namespace

RuntimeToolsSection::RuntimeToolsSection(ToolchainStore& toolchain, Preferences& preferences,
                                         SocketAccess socket, QWidget* parent)
    : QWidget(parent), m_toolchain(toolchain), m_preferences(preferences), m_socket(std::move(socket))
{
    using Variant = VoskButtonStyle::Variant;
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new SectionLabel(QStringLiteral("Runtime tools"), this));
    header->addStretch(1);
    m_busy = new BusyIndicator(this);
    m_busy->setObjectName(QStringLiteral("checkingIndicator"));
    header->addWidget(m_busy);
    m_check = new VoskButton(QStringLiteral("Check for updates"), Variant::quiet, std::nullopt, this);
    m_check->setObjectName(QStringLiteral("checkButton"));
    header->addWidget(m_check);
    column->addLayout(header);

    auto* card = new VoskCard(this);
    card->setObjectName(QStringLiteral("toolCard"));
    auto* cardRows = new QVBoxLayout(card);
    cardRows->setContentsMargins(0, 0, 0, 0);
    cardRows->setSpacing(0);
    m_rows = std::make_unique<KeyedRows<Tool, ToolRow>>(
        cardRows, [](const Tool& tool) { return tool.formula; },
        [this, card](const Tool& tool) {
            auto* row = new ToolRow(tool, m_toolchain.brewAvailable(), card);
            connect(row, &ToolRow::jobRequested, this, &RuntimeToolsSection::jobRequested);
            connect(row, &ToolRow::openFailed, this, &RuntimeToolsSection::openFailed);
            return row;
        },
        [this](ToolRow* row, const Tool& tool, int position) {
            row->setTool(tool, m_toolchain.brewAvailable());
            row->setRuleAbove(position > 0);
        });
    // An empty card still shows as a card.
    card->setMinimumHeight(int(2 * Vosk::cardRadius));
    column->addWidget(card);

    m_notice = new Strip(this);
    m_notice->setObjectName(QStringLiteral("restartNotice"));
    auto* notice = new QHBoxLayout(m_notice);
    notice->setContentsMargins(12, 12, 12, 12);
    notice->setSpacing(10);
    notice->addWidget(
        new SymbolView(QStringLiteral("arrow.triangle.2.circlepath"), 13, Vosk::badgeInk, m_notice), 0,
        Qt::AlignTop);
    auto* noticeText = new QVBoxLayout;
    noticeText->setSpacing(3);
    noticeText->addWidget(new VoskLabel(QStringLiteral("Restart the runtime to finish"), TextStyles::label,
                                        Vosk::ink, m_notice));
    m_noticeText = noteLabel(QString(), m_notice);
    noticeText->addWidget(m_noticeText);
    notice->addLayout(noticeText, 1);
    auto* restart = new VoskButton(QStringLiteral("Restart"), Variant::quiet, std::nullopt, m_notice);
    restart->setObjectName(QStringLiteral("restartButton"));
    notice->addWidget(restart, 0, Qt::AlignTop);
    column->addWidget(m_notice);

    auto* footer = new QVBoxLayout;
    footer->setSpacing(4);
    auto* status = new QHBoxLayout;
    status->setSpacing(7);
    m_dot = new StatusDot(Vosk::muted, 6, this);
    m_dot->setObjectName(QStringLiteral("servicesLight"));
    status->addWidget(m_dot);
    m_status = new VoskLabel(QString(), TextStyles::monoNote, Vosk::muted, this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    status->addWidget(m_status, 1);
    status->addSpacing(6);
    m_start = new VoskButton(QStringLiteral("Start"), Variant::quiet, std::nullopt, this);
    m_start->setObjectName(QStringLiteral("servicesStartButton"));
    m_logs = new VoskButton(QStringLiteral("Logs"), Variant::ghost, std::nullopt, this);
    m_logs->setObjectName(QStringLiteral("servicesLogsButton"));
    m_logs->setToolTip(QStringLiteral("The log of Apple container's own services"));
    status->addWidget(m_start);
    status->addWidget(m_logs);
    footer->addLayout(status);
    m_note = new VoskLabel(QString(), TextStyles::monoNote, Vosk::errInk, this);
    m_note->setObjectName(QStringLiteral("checkNoteLabel"));
    m_note->setWordWrap(true);
    m_note->setMaximumLines(3);
    m_note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    footer->addWidget(m_note);
    m_noBrew = noteLabel(
        QStringLiteral("Homebrew was not found, so Voskel can report versions but cannot update them."),
        this);
    m_noBrew->setObjectName(QStringLiteral("noHomebrewLabel"));
    footer->addWidget(m_noBrew);
    column->addLayout(footer);

    m_builderSlot = new QVBoxLayout;
    m_builderSlot->setContentsMargins(0, 0, 0, 0);
    column->addLayout(m_builderSlot);
    m_engineSlot = new QVBoxLayout;
    m_engineSlot->setContentsMargins(0, 0, 0, 0);
    column->addLayout(m_engineSlot);

    // The store lives as long as the application; the check goes on if the window closes meanwhile.
    connect(m_check, &VoskButton::clicked, this, [this] { m_toolchain.check(); });
    connect(restart, &VoskButton::clicked, this, [this] { emit jobRequested(ToolJob::restart()); });
    connect(m_start, &VoskButton::clicked, this, [this] { emit jobRequested(ToolJob::start()); });
    connect(m_logs, &VoskButton::clicked, this, &RuntimeToolsSection::openSystemLogs);

    // Several fields change in one turn when a load lands: one redraw for all of them.
    auto* batch = new ChangeBatch(this, [this] { redraw(); });
    for (const auto signal :
         {&ToolchainStore::toolsChanged, &ToolchainStore::statusChanged, &ToolchainStore::builderChanged,
          &ToolchainStore::engineChanged, &ToolchainStore::checkingChanged, &ToolchainStore::noteChanged,
          &ToolchainStore::lastCheckedChanged})
        batch->watch(&m_toolchain, signal);

    redraw();
}

RuntimeToolsSection::~RuntimeToolsSection() = default;

QString RuntimeToolsSection::statusLine(const SystemStatus& status,
                                        const std::optional<QDateTime>& lastChecked)
{
    QStringList parts{status.running ? QStringLiteral("SERVICES RUNNING")
                                     : QStringLiteral("SERVICES STOPPED")};
    if (status.serverVersion)
        parts << QStringLiteral("SERVER ") + *status.serverVersion;
    if (lastChecked)
        parts << QStringLiteral("CHECKED ") + clock(lastChecked->toLocalTime().time());
    else
        parts << QStringLiteral("NOT CHECKED");
    return parts.join(QStringLiteral(" · "));
}

std::optional<QString> RuntimeToolsSection::restartNotice(const SystemStatus& status)
{
    // Any difference counts, a newer server too: both halves should be the same build.
    if (!status.needsRestart())
        return std::nullopt;
    return QStringLiteral(
               "Client is %1, the running server is still %2. Restarting stops running containers.")
        .arg(*status.clientVersion, *status.serverVersion);
}

QList<ToolRow*> RuntimeToolsSection::toolRows() const
{
    QList<ToolRow*> rows;
    for (qsizetype i = 0; i < m_rows->size(); ++i)
        rows << m_rows->at(i);
    return rows;
}

void RuntimeToolsSection::redraw()
{
    ++m_redraws;
    const bool checking = m_toolchain.checking();
    const bool brew = m_toolchain.brewAvailable();
    m_check->setText(checking ? QStringLiteral("Checking…") : QStringLiteral("Check for updates"));
    m_check->setEnabled(!checking && brew);
    setShown(m_busy, checking);

    m_rows->sync(m_toolchain.tools());

    const SystemStatus& status = m_toolchain.status();
    const std::optional<QString> notice = restartNotice(status);
    if (notice)
        m_noticeText->setPlainText(*notice);
    setShown(m_notice, notice.has_value());

    m_dot->setFill(status.running ? Vosk::success : Vosk::muted);
    m_status->setPlainText(statusLine(status, m_toolchain.lastChecked()));
    const bool container = m_toolchain.containerInstalled();
    setShown(m_start, !status.running && container);
    setShown(m_logs, container);
    m_note->setPlainText(m_toolchain.note().value_or(QString()));
    setShown(m_note, m_toolchain.note().has_value());
    setShown(m_noBrew, !brew);

    if (container && status.running) {
        if (!m_builder) {
            m_builder = new BuilderRow(m_toolchain.builder(), m_preferences, this);
            connect(m_builder, &BuilderRow::jobRequested, this, &RuntimeToolsSection::jobRequested);
            m_builderSlot->addWidget(m_builder);
        }
        m_builder->setBuilder(m_toolchain.builder());
    } else if (m_builder) {
        retire(m_builder);
    }

    // A new engine card starts with its sizes as they are and reads the socket afresh.
    if (m_toolchain.colimaInstalled()) {
        if (!m_engine) {
            m_engine = new EngineRow(m_toolchain.engine(), m_socket, this);
            connect(m_engine, &EngineRow::jobRequested, this, &RuntimeToolsSection::jobRequested);
            connect(m_engine, &EngineRow::contextsChanged, this, &RuntimeToolsSection::contextsChanged);
            m_engineSlot->addWidget(m_engine);
        }
        m_engine->setEngine(m_toolchain.engine());
    } else if (m_engine) {
        retire(m_engine);
    }
}

void RuntimeToolsSection::openSystemLogs()
{
    // The services' own log, not one runtime's: no runtime, and read with the Apple tool.
    SheetHost::open(this, new LogsView(LogSource::system(), std::nullopt, false));
}
