#include "settings/EngineRow.h"

#include "app/design/Divider.h"
#include "app/design/Vosk.h"
#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "engine/Stats.h"
#include "platform/Pools.h"
#include "settings/CardHeading.h"
#include "settings/SectionLabel.h"
#include "settings/SizeChoices.h"
#include "settings/SizePicker.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

namespace {

constexpr qint64 gibibyte = qint64(1) << 30;

} // namespace

SocketAccess SocketAccess::system()
{
    return {DefaultSocket::Paths::system(), DefaultSocket::pkexec()};
}

EngineRow::EngineRow(const EngineStatus& engine, SocketAccess access, QWidget* parent)
    : VoskCard(parent), m_engine(engine), m_access(std::move(access)),
      m_socket(DefaultSocket::state(m_access.paths))
{
    setObjectName(QStringLiteral("engineRow"));
    using Variant = VoskButtonStyle::Variant;
    const CardHeading heading = CardHeading::build(
        this, QStringLiteral("Docker engine"),
        QStringLiteral("Colima's VM. It is the colima runtime in the picker, and it keeps its memory until "
                       "stopped."),
        QStringLiteral("engine"));
    QVBoxLayout* column = heading.column;
    m_has = heading.size;
    m_badge = heading.badge;
    m_stop = new VoskButton(QStringLiteral("Stop"), Variant::quiet, std::nullopt, this);
    m_stop->setObjectName(QStringLiteral("engineStopButton"));
    m_stop->setToolTip(QStringLiteral("Stops the VM and every container on it"));
    m_start = new VoskButton(QStringLiteral("Start"), Variant::quiet, std::nullopt, this);
    m_start->setObjectName(QStringLiteral("engineStartButton"));
    heading.row->addWidget(m_stop, 0, Qt::AlignTop);
    heading.row->addWidget(m_start, 0, Qt::AlignTop);

    auto* sizes = new QHBoxLayout;
    sizes->setSpacing(10);
    m_cpus = new SizePicker(QStringLiteral("CPUs"), QStringLiteral("As it is"), QString(),
                            SizeChoices::processors(Docker::cores()), this);
    m_cpus->box()->setObjectName(QStringLiteral("engineCPUsPicker"));
    m_memory = new SizePicker(QStringLiteral("Memory"), QStringLiteral("As it is"), QStringLiteral("GB"),
                              SizeChoices::memory(Docker::physicalMemory()), this);
    m_memory->box()->setObjectName(QStringLiteral("engineMemoryPicker"));
    m_apply = new VoskButton(QStringLiteral("Apply and restart"), Variant::quiet, std::nullopt, this);
    m_apply->setObjectName(QStringLiteral("engineApplyButton"));
    m_apply->setToolTip(
        QStringLiteral("Stops the VM and the containers on it, then starts it with the new size"));
    sizes->addWidget(m_cpus);
    sizes->addWidget(m_memory);
    sizes->addWidget(m_apply);
    sizes->addStretch(1);
    column->addLayout(sizes);

    column->addWidget(new Divider(this));

    auto* socketPart = new QVBoxLayout;
    socketPart->setSpacing(4);
    auto* socketLine = new QHBoxLayout;
    socketLine->setSpacing(12);
    m_sentence = noteLabel(QString(), this);
    m_sentence->setObjectName(QStringLiteral("socketSentence"));
    socketLine->addWidget(m_sentence, 1, Qt::AlignTop);
    m_useAsDefault = new VoskButton(QStringLiteral("Use as default…"), Variant::quiet, std::nullopt, this);
    m_useAsDefault->setObjectName(QStringLiteral("useAsDefaultButton"));
    m_useAsDefault->setToolTip(
        QStringLiteral("Points /var/run/docker.sock at this engine, now and after every "
                       "restart. You will be asked for an administrator's password."));
    m_keep = new VoskButton(QStringLiteral("Keep after restart…"), Variant::quiet, std::nullopt, this);
    m_keep->setObjectName(QStringLiteral("keepAfterRestartButton"));
    m_stopUsing = new VoskButton(QStringLiteral("Stop using…"), Variant::quiet, std::nullopt, this);
    m_stopUsing->setObjectName(QStringLiteral("stopUsingButton"));
    m_stopUsing->setToolTip(
        QStringLiteral("Removes the link. You will be asked for an administrator's password."));
    for (VoskButton* button : {m_useAsDefault, m_keep, m_stopUsing})
        socketLine->addWidget(button, 0, Qt::AlignTop);
    socketPart->addLayout(socketLine);
    m_problem = new VoskLabel(QString(), TextStyles::monoNote, Vosk::errInk, this);
    m_problem->setObjectName(QStringLiteral("socketProblemLabel"));
    m_problem->setWordWrap(true);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    socketPart->addWidget(m_problem);
    column->addLayout(socketPart);

    connect(m_stop, &VoskButton::clicked, this, [this] { emit jobRequested(ToolJob::engineStop()); });
    connect(m_start, &VoskButton::clicked, this, [this] {
        emit jobRequested(ToolJob::engineStart(SizeChoices::option(m_cpus->value()),
                                               SizeChoices::option(m_memory->value())));
    });
    connect(m_apply, &VoskButton::clicked, this, [this] {
        emit jobRequested(ToolJob::engineRestart(SizeChoices::option(m_cpus->value()),
                                                 SizeChoices::option(m_memory->value())));
    });
    connect(m_cpus, &SizePicker::chosen, this, &EngineRow::apply);
    connect(m_memory, &SizePicker::chosen, this, &EngineRow::apply);
    connect(m_useAsDefault, &VoskButton::clicked, this, [this] { changeSocket(true); });
    connect(m_keep, &VoskButton::clicked, this, [this] { changeSocket(true); });
    connect(m_stopUsing, &VoskButton::clicked, this, [this] { changeSocket(false); });

    apply();
    applySocket();
}

QString EngineRow::hasText(const EngineStatus& engine)
{
    return SizeChoices::describe(engine.cpus, engine.memoryBytes);
}

bool EngineRow::changed(const EngineStatus& engine, int cpus, int memoryGB)
{
    const bool cpusChanged = cpus >= 1 && (!engine.cpus || *engine.cpus != cpus);
    const bool memoryChanged =
        memoryGB >= 1 && (!engine.memoryBytes || *engine.memoryBytes != memoryGB * gibibyte);
    return cpusChanged || memoryChanged;
}

QString EngineRow::socketSentence(const DefaultSocket::State& state)
{
    switch (state.kind) {
    case DefaultSocket::State::Kind::Free:
        return QStringLiteral(
            "The default Docker socket, /var/run/docker.sock, leads nowhere. This engine can be it.");
    case DefaultSocket::State::Kind::Colima:
        return state.permanent
                   ? QStringLiteral("The default Docker socket leads here, and will after a restart.")
                   : QStringLiteral("The default Docker socket leads here until the next restart.");
    case DefaultSocket::State::Kind::Taken:
        return QStringLiteral("The default Docker socket belongs to another engine.");
    }
    return {};
}

void EngineRow::setEngine(const EngineStatus& engine)
{
    if (engine == m_engine)
        return;
    m_engine = engine;
    apply();
}

void EngineRow::apply()
{
    const QString has = hasText(m_engine);
    m_has->setPlainText(has);
    m_has->setVisible(!has.isEmpty());
    m_badge->setText(m_engine.running ? QStringLiteral("running") : QStringLiteral("stopped"));
    m_badge->setColors(Vosk::pillFill, m_engine.running ? Vosk::success : Vosk::pillInk);
    m_stop->setVisible(m_engine.running);
    m_start->setVisible(!m_engine.running);
    m_apply->setVisible(m_engine.running && changed(m_engine, m_cpus->value(), m_memory->value()));
}

void EngineRow::applySocket()
{
    using Kind = DefaultSocket::State::Kind;
    m_sentence->setPlainText(socketSentence(m_socket));
    m_useAsDefault->setVisible(m_socket.kind == Kind::Free);
    m_keep->setVisible(m_socket.kind == Kind::Colima && !m_socket.permanent);
    m_stopUsing->setVisible(m_socket.kind == Kind::Colima);
    for (VoskButton* button : {m_useAsDefault, m_keep, m_stopUsing})
        button->setEnabled(!m_socketBusy);
    m_problem->setPlainText(m_socketProblem.value_or(QString()));
    m_problem->setVisible(m_socketProblem.has_value());
}

void EngineRow::showEvent(QShowEvent* event)
{
    VoskCard::showEvent(event);
    // A change made outside the application shows the next time the window is shown.
    if (!m_socketBusy) {
        m_socket = DefaultSocket::state(m_access.paths);
        applySocket();
    }
}

QCoro::Task<> EngineRow::changeSocket(bool pointHere)
{
    if (m_socketBusy)
        co_return;
    m_socketBusy = true;
    applySocket();
    QPointer<EngineRow> self(this);
    // The password prompt and the command take as long as the user does; the window keeps answering
    // meanwhile.
    auto changing = Platform::onUserInitiated([access = m_access, pointHere] {
        return pointHere ? DefaultSocket::pointAtColima(access.paths, access.administrator)
                         : DefaultSocket::stopUsingColima(access.paths, access.administrator);
    });
    const std::optional<QString> problem = co_await std::move(changing);
    if (!self)
        co_return;
    m_socketBusy = false;
    m_socketProblem = problem;
    m_socket = DefaultSocket::state(m_access.paths);
    applySocket();
    emit contextsChanged();
}
