#pragma once

#include "app/design/VoskCard.h"
#include "toolchain/DefaultSocket.h"
#include "toolchain/ServicesStatus.h"
#include "toolchain/ToolJob.h"

#include <QCoroTask>

class QHBoxLayout;
class SizePicker;
class VoskBadge;
class VoskButton;
class VoskLabel;

// Where the engine row finds the default socket and how it gets administrator rights. The
// application uses the system's paths and polkit; tests point both into a temporary folder.
struct SocketAccess {
    DefaultSocket::Paths paths;
    DefaultSocket::Administrator administrator;

    static SocketAccess system();
};

// The card of Colima's engine: whether it runs and what it has, Start, Stop and a resize with a
// restart, and the system's default Docker socket: point it here now and after every restart, or
// stop using it. The sizes picked here are not kept; they start at "As it is" with every new row.
class EngineRow : public VoskCard {
    Q_OBJECT

public:
    EngineRow(const EngineStatus& engine, SocketAccess access, QWidget* parent = nullptr);

    const EngineStatus& engine() const { return m_engine; }
    void setEngine(const EngineStatus& engine);

    const DefaultSocket::State& socket() const { return m_socket; }
    const std::optional<QString>& socketProblem() const { return m_socketProblem; }
    // Whether an administrator command for the socket is under way.
    bool socketBusy() const { return m_socketBusy; }

    // "2 CPUs · 2 GB": what the engine has, running or not; empty when it says nothing.
    static QString hasText(const EngineStatus& engine);
    // Whether the picked sizes differ from what the engine has (0 keeps a size as it is).
    static bool changed(const EngineStatus& engine, int cpus, int memoryGB);
    // The sentence under the engine for each state of the default socket.
    static QString socketSentence(const DefaultSocket::State& state);

signals:
    void jobRequested(const ToolJob& job);
    // The default socket may lead somewhere else now, and with it the runtimes.
    void contextsChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void apply();
    void applySocket();
    QCoro::Task<> changeSocket(bool pointHere);

    EngineStatus m_engine;
    SocketAccess m_access;
    DefaultSocket::State m_socket;
    std::optional<QString> m_socketProblem;
    bool m_socketBusy = false;

    VoskLabel* m_has;
    VoskBadge* m_badge;
    VoskButton* m_stop;
    VoskButton* m_start;
    SizePicker* m_cpus;
    SizePicker* m_memory;
    VoskButton* m_apply;
    VoskLabel* m_sentence;
    VoskButton* m_useAsDefault;
    VoskButton* m_keep;
    VoskButton* m_stopUsing;
    VoskLabel* m_problem;
};
