#pragma once

#include "platform/PreparedProcess.h"
#include "settings/EngineRow.h"
#include "sheets/CommandRunView.h"
#include "toolchain/ToolJob.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

#include <optional>

class AppStore;
class Banner;
class ChangeBatch;
class LoginToggle;
class Preferences;
class QCheckBox;
class QWindow;
class RuntimeToolsSection;
class SegmentedControl;
class ToolchainStore;

// The application's one Settings window: the look, the general switches, the login item and the
// runtime tools. It runs the tool jobs its rows ask for, one at a time: a job starts only once the
// processes of the one before it have ended. It reads the toolchain again each time it opens, whenever
// another window of the application becomes active while it is open, and after every job (then the
// runtimes too). Controls write their preference only when the user changes them.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize fixedSize{480, 560};

    SettingsWindow(AppStore& store, ToolchainStore& toolchain, Preferences& preferences,
                   QWidget* parent = nullptr);
    // The same with the default socket reached through `socket` (tests point it into a folder).
    SettingsWindow(AppStore& store, ToolchainStore& toolchain, Preferences& preferences, SocketAccess socket,
                   QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // The job whose sheet is open.
    const std::optional<ToolJob>& job() const { return m_job; }
    // Opens the sheet that runs `job`, unless one is open already.
    void runJob(const ToolJob& job);

    // The sheet of the job that runs now; null while none is open.
    CommandRunView* jobSheet() const { return m_sheet; }
    // What a job runs: its script through `/bin/sh -c`, in a process group of its own.
    static Platform::PreparedProcess jobProcess(const ToolJob& job);

    RuntimeToolsSection* runtimeTools() const { return m_tools; }
    // Where what fails in this window is said, until dismissed.
    Banner* errorBanner() const { return m_error; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showPreferences();
    void focusMoved(QWindow* now);
    bool ownsWindow(const QWindow* window) const;
    // What a load asked for in this turn is followed by: the update check when the last one is a day
    // old, the runtimes read again.
    struct AfterReload {
        bool check = false;
        bool contexts = false;
    };
    // Asks for one toolchain load on the next turn of the event loop, however often it is asked in
    // this one.
    void scheduleReload(AfterReload then);
    QCoro::Task<> reload(AfterReload then);
    void jobClosed();

    AppStore& m_store;
    ToolchainStore& m_toolchain;
    Preferences& m_preferences;
    std::optional<ToolJob> m_job;
    ChangeBatch* m_reload;
    AfterReload m_afterReload;
    QPointer<CommandRunView> m_sheet;
    // What the last job started; the next one waits until nothing of it is left.
    Platform::ChildGroup m_lastJob;
    quint64 m_jobSerial = 0;
    QPointer<QWindow> m_focused;

    Banner* m_error;
    SegmentedControl* m_appearance;
    QCheckBox* m_showMenuBar;
    LoginToggle* m_login;
    QCheckBox* m_checkAtLaunch;
    RuntimeToolsSection* m_tools;
};
