#include "sheets/ExecView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/Divider.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ContainerDot.h"
#include "app/parts/StatusDot.h"
#include "engine/Docker.h"
#include "platform/StreamingProcess.h"
#include "sheets/Band.h"
#include "sheets/SheetParts.h"
#include "sheets/Transcript.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

ExecView::ExecView(const Container& container, const std::optional<Runtime>& runtime, QWidget* parent)
    : QDialog(parent), m_container(container), m_runtime(runtime)
{
    setObjectName(QStringLiteral("execSheet"));
    setWindowTitle(container.name);
    setFixedSize(size);

    auto* header = new Band(Vosk::chrome, 10, this);
    auto* statusDot = new StatusDot(dot(container), 8, header);
    statusDot->setObjectName(QStringLiteral("statusDot"));
    VoskLabel* title = SheetParts::title(container.name, header);
    auto* kind =
        new VoskLabel(QStringLiteral("EXEC \u00b7 SH -C"), TextStyles::groupLabel, Vosk::muted, header);
    auto* close =
        new VoskButton(QStringLiteral("Close"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    close->setObjectName(QStringLiteral("closeButton"));
    header->row()->addWidget(statusDot, 0, Qt::AlignVCenter);
    header->row()->addWidget(title, 0, Qt::AlignVCenter);
    header->row()->addWidget(kind, 0, Qt::AlignVCenter);
    header->row()->addStretch(1);
    header->row()->addWidget(close, 0, Qt::AlignVCenter);

    // Each command's output is bounded before it joins; the transcript itself is the sheet's record.
    m_transcript = new Transcript(false, this);
    m_transcript->setPlaceholder(
        QStringLiteral("Runs `sh -c` in the container. Not a terminal: no prompts, no curses apps."));

    auto* input = new Band(Vosk::chrome, 8, this);
    m_field = new QLineEdit(input);
    m_field->setObjectName(QStringLiteral("commandField"));
    m_field->setPlaceholderText(QStringLiteral("command"));
    m_field->setFont(TextStyles::monoField.font());
    m_busy = new BusyIndicator(input);
    m_busy->hide();
    m_runButton =
        new VoskButton(QStringLiteral("Run"), VoskButtonStyle::Variant::accent, std::nullopt, input);
    m_runButton->setObjectName(QStringLiteral("runButton"));
    input->row()->addWidget(m_field, 1, Qt::AlignVCenter);
    input->row()->addWidget(m_busy, 0, Qt::AlignVCenter);
    input->row()->addWidget(m_runButton, 0, Qt::AlignVCenter);

    QVBoxLayout* column = SheetParts::stack(this, header, m_transcript);
    column->addWidget(new Divider(this));
    column->addWidget(input);

    connect(close, &VoskButton::clicked, this, &ExecView::reject);
    connect(m_runButton, &VoskButton::clicked, this, &ExecView::run);
    connect(m_field, &QLineEdit::returnPressed, this, &ExecView::run);
    connect(m_field, &QLineEdit::textChanged, this, &ExecView::updateRunButton);
    updateRunButton();
    m_field->setFocus();
}

ExecView::~ExecView() = default;

const QString& ExecView::output() const
{
    return m_transcript->text();
}

void ExecView::run()
{
    const QString command = Docker::trimBlanks(m_field->text());
    if (command.isEmpty() || m_running)
        return;
    m_transcript->append(QStringLiteral("$ %1\n").arg(command));
    m_field->clear();
    setRunning(true);

    m_commandOutput.clear();
    m_commandFilter.reset();
    m_commandStatus.reset();
    m_outputEnded = false;
    auto process = std::make_unique<Platform::StreamingProcess>();
    process->setWhenDropped(Platform::StreamingProcess::WhenDropped::letFinish);
    // Each command's output is cleaned on its own: a sequence it left unfinished must not take the
    // exit line, or the next command's, with it.
    connect(process.get(), &Platform::StreamingProcess::output, this,
            [this](const QString& text) { m_commandOutput.append(m_commandFilter.filter(text)); });
    connect(process.get(), &Platform::StreamingProcess::finished, this, [this](int status) {
        m_commandStatus = status;
        commandEnded();
    });
    connect(process.get(), &Platform::StreamingProcess::outputEnded, this, [this] {
        m_outputEnded = true;
        commandEnded();
    });
    // The engine carries a command's standard output and error apart and the client writes each as it
    // gets it, so lines written one after the other on the two can come out the other way round. The
    // sheet shows them alike: the shell in the container sends both down one pipe from the start, in the
    // order they are written, and the command itself stays as typed, on the lines after.
    const QStringList args{QStringLiteral("exec"), m_container.id, QStringLiteral("sh"), QStringLiteral("-c"),
                           QStringLiteral("exec 2>&1\n") + command};
    if (const std::optional<QString> failure = process->start(Docker::process(args, m_runtime))) {
        m_transcript->append(QStringLiteral("cannot run docker: %1\n").arg(*failure));
        setRunning(false);
        return;
    }
    m_process = std::move(process);
}

void ExecView::commandEnded()
{
    // The whole output first, then how the command ended.
    if (!m_commandStatus || !m_outputEnded)
        return;
    QString result = m_commandOutput.text();
    if (!result.isEmpty() && !result.endsWith(u'\n'))
        result += u'\n';
    if (*m_commandStatus != 0)
        result += QStringLiteral("[exit %1]\n").arg(*m_commandStatus);
    m_commandOutput.clear();
    m_process.reset();
    m_transcript->append(result);
    setRunning(false);
}

void ExecView::setRunning(bool running)
{
    m_running = running;
    m_field->setEnabled(!running);
    m_busy->setVisible(running);
    updateRunButton();
    if (!running)
        m_field->setFocus();
}

void ExecView::updateRunButton()
{
    // Blanks alone still enable it; pressing it then does nothing, as with an empty command.
    m_runButton->setEnabled(!m_running && !m_field->text().isEmpty());
}

void ExecView::done(int result)
{
    // A command still running is let go, to finish on its own.
    m_process.reset();
    QDialog::done(result);
}
