#include "sheets/CommandRunView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "platform/StreamingProcess.h"
#include "sheets/Band.h"
#include "sheets/SheetParts.h"
#include "sheets/Transcript.h"

#include <QHBoxLayout>
#include <QTimer>

CommandRunView::CommandRunView(const QString& title, const QString& banner, MakeProcess makeProcess,
                               OnFinish onFinish, QWidget* parent)
    : QDialog(parent), m_banner(banner), m_makeProcess(std::move(makeProcess)),
      m_onFinish(std::move(onFinish))
{
    setObjectName(QStringLiteral("commandSheet"));
    setWindowTitle(title);
    setFixedSize(size);

    auto* header = new Band(Vosk::chrome, 10, this);
    m_title = SheetParts::title(title, header);
    m_busy = new BusyIndicator(header);
    m_badge = new VoskBadge(QString(), Vosk::pillFill, Vosk::success, header);
    m_badge->setObjectName(QStringLiteral("statusBadge"));
    m_badge->hide();
    m_button =
        new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    m_button->setObjectName(QStringLiteral("closeButton"));
    header->row()->addWidget(m_title, 0, Qt::AlignVCenter);
    header->row()->addWidget(m_busy, 0, Qt::AlignVCenter);
    header->row()->addWidget(m_badge, 0, Qt::AlignVCenter);
    header->row()->addStretch(1);
    header->row()->addWidget(m_button, 0, Qt::AlignVCenter);

    m_transcript = new Transcript(true, this);
    m_transcript->setPlaceholder(banner);

    SheetParts::stack(this, header, m_transcript);

    connect(m_button, &VoskButton::clicked, this, &CommandRunView::finish);
}

CommandRunView::~CommandRunView() = default;

const QString& CommandRunView::text() const
{
    return m_transcript->text();
}

void CommandRunView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        run();
    }
}

void CommandRunView::startAfter(const Platform::ChildGroup& previous)
{
    m_previous = previous;
}

void CommandRunView::run()
{
    m_transcript->clearText();
    m_transcript->append(QString(m_banner + u'\n'));
    if (m_previous.gone()) {
        launch();
        return;
    }
    m_transcript->append(QStringLiteral("waiting for the previous command to end\n"));
    m_waiting = new QTimer(this);
    connect(m_waiting, &QTimer::timeout, this, [this] {
        if (!m_previous.gone())
            return;
        delete m_waiting;
        m_waiting = nullptr;
        launch();
    });
    m_waiting->start(100);
}

void CommandRunView::launch()
{
    auto process = std::make_unique<Platform::StreamingProcess>();
    connect(process.get(), &Platform::StreamingProcess::output, m_transcript,
            [this](const QString& text) { m_transcript->append(text); });
    connect(process.get(), &Platform::StreamingProcess::finished, this, &CommandRunView::setExitStatus);
    if (const std::optional<QString> failure = process->start(m_makeProcess())) {
        m_transcript->append(QStringLiteral("cannot run: %1\n").arg(*failure));
        setExitStatus(-1);
        return;
    }
    m_process = std::move(process);
    m_group = m_process->group();
    emit started();
}

void CommandRunView::setExitStatus(int status)
{
    m_exitStatus = status;
    m_busy->hide();
    if (status == 0) {
        m_badge->setText(QStringLiteral("done"));
        m_badge->setColors(Vosk::pillFill, Vosk::success);
    } else {
        m_badge->setText(QStringLiteral("failed (%1)").arg(status));
        m_badge->setColors(Vosk::errFill, Vosk::errInk);
    }
    m_badge->show();
    m_button->setText(QStringLiteral("Close"));
    emit ended(status);
}

void CommandRunView::reject()
{
    finish();
}

void CommandRunView::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    // A command that has ended is not interrupted: what it left running on purpose is not the
    // sheet's to stop, and the rest of its group is ended as the sheet lets it go.
    if (m_process && m_process->isRunning())
        m_process->interrupt();
    const std::optional<int> status = m_exitStatus;
    // Held here: the opener may let the sheet go from inside the hook.
    const OnFinish onFinish = m_onFinish;
    done(QDialog::Rejected);
    if (onFinish)
        onFinish(status);
}

void CommandRunView::done(int result)
{
    // Leaving the screen: whatever is left of the command's group goes to the reaper, which ends it.
    delete m_waiting;
    m_waiting = nullptr;
    m_process.reset();
    QDialog::done(result);
}
