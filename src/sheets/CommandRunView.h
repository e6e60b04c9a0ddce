#pragma once

#include "platform/PreparedProcess.h"
#include "platform/StreamingProcess.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class BusyIndicator;
class QTimer;
class Transcript;
class VoskBadge;
class VoskButton;
class VoskLabel;

// The sheet that runs one prepared command to its end and shows everything it writes as it comes,
// with how it ended. It knows nothing of the command: the opener gives a title, a banner line (the
// command as the user would type it) and a function that prepares the process.
//
// The header button ("Cancel" while the command runs, "Close" after), Escape and the window's close
// button all interrupt a running command, close the sheet and tell the opener, once, how the command
// ended: its status (-1 when it could not start), or none when it still ran. Closing the sheet in any
// other way ends the command without telling anyone. Either way, what the command left running in its
// process group is ended with it.
class CommandRunView final : public QDialog {
    Q_OBJECT

public:
    using MakeProcess = std::function<Platform::PreparedProcess()>;
    using OnFinish = std::function<void(std::optional<int> exitStatus)>;

    static constexpr QSize size{700, 420};

    CommandRunView(const QString& title, const QString& banner, MakeProcess makeProcess, OnFinish onFinish,
                   QWidget* parent = nullptr);
    ~CommandRunView() override;

    // The transcript as shown.
    const QString& text() const;
    // None while the command runs or before it started; its exit status (or ending signal's number)
    // once it ended; -1 when it could not start.
    std::optional<int> exitStatus() const { return m_exitStatus; }

    // The command starts only once everything of `previous` has ended; meanwhile the sheet says it waits.
    // Call before the sheet is shown.
    void startAfter(const Platform::ChildGroup& previous);
    // The command's process group, also once the sheet has let it go; nothing before it started.
    Platform::ChildGroup group() const { return m_group; }

    // Escape and the window's close button end up here.
    void reject() override;

signals:
    // The command was started.
    void started();
    // The command ended, or could not start (-1); the sheet stays open until the user closes it.
    void ended(int exitStatus);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void run();
    void launch();
    void finish();
    void setExitStatus(int status);

    QString m_banner;
    MakeProcess m_makeProcess;
    OnFinish m_onFinish;
    std::unique_ptr<Platform::StreamingProcess> m_process;
    Platform::ChildGroup m_group;
    Platform::ChildGroup m_previous;
    QTimer* m_waiting = nullptr;
    std::optional<int> m_exitStatus;
    bool m_started = false;
    bool m_finished = false;

    VoskLabel* m_title;
    BusyIndicator* m_busy;
    VoskBadge* m_badge;
    VoskButton* m_button;
    Transcript* m_transcript;
};
