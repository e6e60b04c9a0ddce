#pragma once

#include "engine/Container.h"
#include "sheets/BoundedText.h"
#include "sheets/TerminalFilter.h"

#include <QDialog>

#include <memory>
#include <optional>

class BusyIndicator;
class QLineEdit;
class Transcript;
class VoskButton;

namespace Platform {
class StreamingProcess;
}

// The sheet that runs single commands in one container, one after another (`docker exec <id> sh -c
// <command>`), and keeps a transcript of them: each command's line, then its output (standard output
// and error as one, in the order the command wrote them) once it has ended, then its exit status when
// that is not 0. Not a terminal: no input, no prompt.
//
// Each command's output is kept to the transcript bound (its last characters) and decoded with bad
// bytes shown as U+FFFD. Closing the sheet leaves a running command to finish on its own; the way out
// of the application ends it with everything else.
class ExecView final : public QDialog {
    Q_OBJECT

public:
    static constexpr QSize size{760, 480};

    ExecView(const Container& container, const std::optional<Runtime>& runtime, QWidget* parent = nullptr);
    ~ExecView() override;

    const Container& container() const { return m_container; }
    // The transcript as shown.
    const QString& output() const;
    bool running() const { return m_running; }

    // Runs what the command field holds (trimmed of blanks and tabs); nothing when that is empty or a
    // command is still running.
    void run();

protected:
    void done(int result) override;

private:
    void setRunning(bool running);
    void updateRunButton();
    void commandEnded();

    Container m_container;
    std::optional<Runtime> m_runtime;
    std::unique_ptr<Platform::StreamingProcess> m_process;
    BoundedText m_commandOutput;
    TerminalFilter m_commandFilter;
    std::optional<int> m_commandStatus;
    bool m_outputEnded = false;
    bool m_running = false;

    Transcript* m_transcript;
    QLineEdit* m_field;
    BusyIndicator* m_busy;
    VoskButton* m_runButton;
};
