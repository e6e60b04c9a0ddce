#pragma once

#include "toolchain/ServicesStatus.h"
#include "toolchain/Tool.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace Platform {
class Settings;
}

// What the interface knows about the runtime tools: installed and offered versions, the state of the
// Apple services, the image builder and Colima's engine, and which update notices the user dismissed.
// Lives on the main thread; the blocking work runs on the utility pool and is applied back here.
// Every setter notifies only when the value really changes.
class ToolchainStore : public QObject {
    Q_OBJECT

public:
    // What the store asks of the machine, replaceable in tests.
    struct Host {
        // Whether Homebrew is installed; asked at construction and before every survey.
        std::function<bool()> brewPresent;
        std::function<QDateTime()> now;

        static Host system();
    };

    static constexpr const char* lastCheckedKey = "toolchainLastChecked";
    static constexpr const char* dismissedKey = "dismissedToolUpdates";
    // The automatic update check runs at most once a day.
    static constexpr qint64 staleAfterSeconds = 86400;

    // Reads the last check and the dismissed updates from `defaults`, which must outlive the store.
    // Runs no command.
    explicit ToolchainStore(Platform::Settings& defaults, QObject* parent = nullptr);
    ToolchainStore(Platform::Settings& defaults, Host host, QObject* parent = nullptr);

    const QList<Tool>& tools() const { return m_tools; }
    const SystemStatus& status() const { return m_status; }
    const BuilderStatus& builder() const { return m_builder; }
    const EngineStatus& engine() const { return m_engine; }
    bool checking() const { return m_checking; }
    // The problem of the last update check, when it had one.
    const std::optional<QString>& note() const { return m_note; }
    const std::optional<QDateTime>& lastChecked() const { return m_lastChecked; }
    // Update keys (Tool::updateKey) the user dismissed. Never pruned.
    const QSet<QString>& dismissed() const { return m_dismissed; }
    // Whether Homebrew was found when the store was made.
    bool brewAvailable() const { return m_brewAvailable; }

    void setTools(const QList<Tool>& tools);
    void setStatus(const SystemStatus& status);
    void setBuilder(const BuilderStatus& builder);
    void setEngine(const EngineStatus& engine);
    // Also stored under "toolchainLastChecked" (seconds since 1970, 0 for never).
    void setLastChecked(const std::optional<QDateTime>& lastChecked);

    // Tools Homebrew manages whose installed version is older than the one it offers.
    QList<Tool> updatable() const;
    // The updatable tools whose update the user has not dismissed: what the update banner and the
    // menu-bar row announce. Redraw on toolsChanged() and dismissedChanged().
    QList<Tool> pendingUpdates() const;
    // "" with nothing pending, "<name> <latest> is available" for one, "<n> runtime updates are
    // available" for more.
    QString noticeText() const;
    bool containerInstalled() const;
    bool colimaInstalled() const;

    // Once per store: loads, then (when `enabled`) checks for updates if the last check is stale.
    // Later calls, also those arriving while the first still runs, return at once.
    QCoro::Task<> checkAtLaunch(bool enabled);
    // Re-reads installed versions and service states, keeping the offered versions already known.
    // When loads overlap, only the one started last is applied.
    QCoro::Task<> load();
    // Whether the daily check is due: never checked, checked in the future (the clock was put back),
    // or a day ago or longer.
    static bool isStale(const std::optional<QDateTime>& lastChecked, const QDateTime& now);
    // Checks when Homebrew is there and the last check is stale.
    QCoro::Task<> checkIfStale();
    // Refreshes Homebrew's index and reads the offered versions, the tools and the services' status.
    // Returns at once while a check is running.
    QCoro::Task<> check();
    // Dismisses every pending update and stores the dismissed set.
    void dismissNotice();

signals:
    void toolsChanged();
    void statusChanged();
    void builderChanged();
    void engineChanged();
    void checkingChanged();
    void noteChanged();
    void lastCheckedChanged();
    void dismissedChanged();

private:
    void setChecking(bool checking);
    void setNote(const std::optional<QString>& note);
    // Takes a fresh survey, keeping the offered versions already known per formula.
    void merge(QList<Tool> tools);
    bool isInstalled(const QString& formula) const;

    Platform::Settings& m_defaults;
    Host m_host;
    QList<Tool> m_tools;
    SystemStatus m_status;
    BuilderStatus m_builder;
    EngineStatus m_engine;
    bool m_checking = false;
    std::optional<QString> m_note;
    std::optional<QDateTime> m_lastChecked;
    QSet<QString> m_dismissed;
    bool m_brewAvailable = false;
    bool m_didLaunchCheck = false;
    quint64 m_loadsStarted = 0;
};
