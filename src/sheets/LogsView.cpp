#include "sheets/LogsView.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ContainerDot.h"
#include "app/parts/Host.h"
#include "app/parts/StatusDot.h"
#include "engine/Compose.h"
#include "engine/Docker.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/StreamingProcess.h"
#include "sheets/Band.h"
#include "sheets/SheetHost.h"
#include "sheets/SheetParts.h"
#include "sheets/Transcript.h"
#include "toolchain/Toolchain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QStyleOptionComboBox>

#include <algorithm>

namespace {

const Token& headerDot(const LogSource& source)
{
    switch (source.kind()) {
    case LogSource::Kind::container:
    case LogSource::Kind::inspect:
        return dot(source.containerValue());
    case LogSource::Kind::project:
        return source.projectValue().runningCount() > 0 ? Vosk::success : Vosk::muted;
    case LogSource::Kind::inspectImage:
    case LogSource::Kind::system:
        break;
    }
    return Vosk::muted;
}

// A picker as wide as its chosen entry rather than its longest one, so the title keeps that room.
class ChoicePicker final : public QComboBox {
public:
    explicit ChoicePicker(QWidget* parent) : QComboBox(parent)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        connect(this, &QComboBox::currentIndexChanged, this, &QWidget::updateGeometry);
    }

    QSize sizeHint() const override
    {
        QStyleOptionComboBox option;
        initStyleOption(&option);
        const QFontMetrics metrics = fontMetrics();
        // The text's own size, as the combo box measures an entry before the style adds its frame.
        const QSize text(metrics.horizontalAdvance(currentText()), std::max(metrics.height(), 14) + 2);
        return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

QComboBox* picker(const QString& name, const QString& help, QWidget* parent)
{
    auto* box = new ChoicePicker(parent);
    box->setObjectName(name);
    box->setToolTip(Vosk::toolTip(help));
    box->setAccessibleName(help);
    box->setFont(TextStyles::monoField.font());
    return box;
}

} // namespace

LogsView::LogsView(const LogSource& source, const std::optional<Runtime>& runtime, bool apple,
                   QWidget* parent)
    : QDialog(parent), m_source(source), m_runtime(runtime), m_apple(apple)
{
    setObjectName(QStringLiteral("logsSheet"));
    setWindowTitle(source.title());
    setFixedSize(size);
    const LogSource::Kind kind = source.kind();

    auto* header = new Band(Vosk::chrome, 10, this);
    auto* statusDot = new StatusDot(headerDot(source), 8, header);
    statusDot->setObjectName(QStringLiteral("statusDot"));
    VoskLabel* title = SheetParts::title(source.title(), header);
    // The whole name while it fits; it is what gives way when the header is short of room.
    title->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_kind = new VoskLabel(source.kindLabel(false), TextStyles::groupLabel, Vosk::muted, header);
    m_kind->setObjectName(QStringLiteral("kindLabel"));
    m_kind->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    header->row()->addWidget(statusDot, 0, Qt::AlignVCenter);
    header->row()->addWidget(title, 0, Qt::AlignVCenter);
    header->row()->addWidget(m_kind, 0, Qt::AlignVCenter);
    header->row()->addStretch(1);

    if (source.isStreaming()) {
        if (apple && kind == LogSource::Kind::container) {
            m_bootToggle = new QCheckBox(QStringLiteral("Boot"), header);
            m_bootToggle->setObjectName(QStringLiteral("bootToggle"));
            m_bootToggle->setFont(TextStyles::caption.font());
            m_bootToggle->setToolTip(
                Vosk::toolTip(QStringLiteral("The VM's boot log instead of the container's output")));
            header->row()->addWidget(m_bootToggle, 0, Qt::AlignVCenter);
            connect(m_bootToggle, &QCheckBox::toggled, this, &LogsView::setBoot);
        }
        if (kind == LogSource::Kind::system || !apple) {
            m_sincePicker =
                picker(QStringLiteral("sincePicker"), QStringLiteral("How long ago to start"), header);
            const bool system = kind == LogSource::Kind::system;
            m_sincePicker->addItem(system ? QStringLiteral("Last 5 minutes") : QStringLiteral("Any time"),
                                   QVariant());
            if (!system)
                m_sincePicker->addItem(QStringLiteral("Last 5 minutes"), QStringLiteral("5m"));
            m_sincePicker->addItem(QStringLiteral("Last hour"), QStringLiteral("1h"));
            m_sincePicker->addItem(QStringLiteral("Last day"), QStringLiteral("24h"));
            header->row()->addWidget(m_sincePicker, 0, Qt::AlignVCenter);
            connect(m_sincePicker, &QComboBox::currentIndexChanged, this, [this](int index) {
                const QVariant value = m_sincePicker->itemData(index);
                setSince(value.isValid() ? std::optional<QString>(value.toString()) : std::nullopt);
            });
        }
        if (kind == LogSource::Kind::container || kind == LogSource::Kind::project) {
            m_linesPicker =
                picker(QStringLiteral("linesPicker"), QStringLiteral("How far back to start"), header);
            m_linesPicker->addItem(QStringLiteral("Last 300"), 300);
            m_linesPicker->addItem(QStringLiteral("Last 1,000"), 1000);
            m_linesPicker->addItem(QStringLiteral("Last 10,000"), 10000);
            m_linesPicker->addItem(QStringLiteral("Everything"), QVariant());
            header->row()->addWidget(m_linesPicker, 0, Qt::AlignVCenter);
            connect(m_linesPicker, &QComboBox::currentIndexChanged, this, [this](int index) {
                const QVariant value = m_linesPicker->itemData(index);
                setTail(value.isValid() ? std::optional<int>(value.toInt()) : std::nullopt);
            });
        }
    }

    m_copyButton =
        new VoskButton(QStringLiteral("Copy"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    m_saveButton =
        new VoskButton(QStringLiteral("Save\u2026"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    auto* close =
        new VoskButton(QStringLiteral("Close"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    close->setObjectName(QStringLiteral("closeButton"));
    header->row()->addWidget(m_copyButton, 0, Qt::AlignVCenter);
    header->row()->addWidget(m_saveButton, 0, Qt::AlignVCenter);
    header->row()->addWidget(close, 0, Qt::AlignVCenter);

    m_transcript = new Transcript(source.isStreaming(), this);
    m_transcript->setFollowsEnd(source.isStreaming());
    m_transcript->setPlaceholder(QStringLiteral("waiting for output\u2026"));

    SheetParts::stack(this, header, m_transcript);

    connect(m_copyButton, &VoskButton::clicked, this, &LogsView::copy);
    connect(m_saveButton, &VoskButton::clicked, this, [this] { save(); });
    connect(close, &VoskButton::clicked, this, &LogsView::reject);
    connect(m_transcript, &Transcript::textChanged, this, &LogsView::updateButtons);
    updateButtons();
}

LogsView::~LogsView() = default;

const QString& LogsView::text() const
{
    return m_transcript->text();
}

void LogsView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        stream();
    }
}

void LogsView::done(int result)
{
    // Leaving the screen ends the stream's command and everything it started.
    m_process.reset();
    QDialog::done(result);
}

void LogsView::setTail(std::optional<int> tail)
{
    if (tail == m_tail)
        return;
    m_tail = tail;
    if (m_started)
        stream();
}

void LogsView::setSince(const std::optional<QString>& since)
{
    if (since == m_since)
        return;
    m_since = since;
    if (m_started)
        stream();
}

void LogsView::setBoot(bool boot)
{
    if (boot == m_boot)
        return;
    m_boot = boot;
    m_kind->setPlainText(m_source.kindLabel(boot));
    if (m_started)
        stream();
}

void LogsView::stream()
{
    // The old stream's command goes to the reaper and is disconnected with it: nothing it still
    // writes can reach the new text.
    m_process.reset();
    m_transcript->clearText();

    if (m_source.kind() == LogSource::Kind::system) {
        m_streamed = Toolchain::process(LogSource::systemArgs(m_since));
    } else if (const auto boot = m_boot ? m_source.bootArgs(m_tail) : std::nullopt) {
        m_streamed = Toolchain::process(*boot);
    } else if (m_source.kind() == LogSource::Kind::project) {
        const QString& name = m_source.projectValue().name;
        if (!Docker::composeAcceptsName(name)) {
            m_transcript->append(Docker::composeRefusalMessage(name) + u'\n');
            return;
        }
        // By the containers' labels alone: the project's folder may be gone, and its file may no
        // longer name every service that has containers.
        m_streamed = Docker::process(m_source.args(m_tail, m_since), m_runtime, Docker::labelsOnlyDir());
    } else {
        m_streamed = Docker::process(m_source.args(m_tail, m_since), m_runtime, std::nullopt);
    }

    auto process = std::make_unique<Platform::StreamingProcess>();
    connect(process.get(), &Platform::StreamingProcess::output, m_transcript,
            [this](const QString& text) { m_transcript->append(text); });
    if (const std::optional<QString> failure = process->start(m_streamed)) {
        m_transcript->append(QStringLiteral("cannot run: %1\n").arg(*failure));
        return;
    }
    m_process = std::move(process);
}

void LogsView::updateButtons()
{
    const bool any = !m_transcript->isEmpty();
    m_copyButton->setEnabled(any);
    m_saveButton->setEnabled(any);
}

void LogsView::copy()
{
    Host::current().copy(m_transcript->text());
}

QCoro::Task<> LogsView::save()
{
    QPointer<LogsView> self(this);
    const std::optional<QString> path = co_await Host::current().chooseSaveFile(this, m_source.saveName());
    if (!self || !path)
        co_return;
    // The text as it stands when the user confirmed, written by a look server: the folder may be on a
    // mount that stalls, which holds that process, not this one, and then it is said not to answer.
    const QString folder = QFileInfo(*path).path();
    auto writing = Platform::lookAtFolderFor(folder, Platform::Looks::textWrite(*path, m_transcript->text()));
    const std::optional<std::optional<QString>> written = co_await std::move(writing);
    if (!self || (written && !*written))
        co_return;
    SheetHost::alert(this, QStringLiteral("The text could not be saved to \u201c%1\u201d.").arg(*path),
                     written ? **written : Platform::folderNotAnswering(folder));
}
