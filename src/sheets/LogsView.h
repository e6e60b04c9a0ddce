#pragma once

#include "engine/Runtime.h"
#include "platform/PreparedProcess.h"
#include "sheets/LogSource.h"

#include <QCoroTask>
#include <QDialog>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class StatusDot;
class Transcript;
class VoskButton;
class VoskLabel;

namespace Platform {
class StreamingProcess;
}

// The sheet that follows the logs of a container, a compose project or the Apple runtime, or shows
// the inspect output of a container or an image. It runs the command itself, shows standard output
// and error together, keeps a followed log bounded and scrolled to its end, starts the stream again
// when the user changes how far back it starts, and ends its command when it closes. Its text can be
// copied or saved to a file.
class LogsView final : public QDialog {
    Q_OBJECT

public:
    static constexpr QSize size{760, 480};

    // `apple`: the runtime is Apple's container runtime (the boot log exists there, and its log tool
    // takes no "since").
    LogsView(const LogSource& source, const std::optional<Runtime>& runtime, bool apple,
             QWidget* parent = nullptr);
    ~LogsView() override;

    const LogSource& source() const { return m_source; }
    // The text as shown.
    const QString& text() const;

    std::optional<int> tail() const { return m_tail; }
    const std::optional<QString>& since() const { return m_since; }
    bool boot() const { return m_boot; }
    // A change starts the stream again from the new point; the text of the old one is gone.
    void setTail(std::optional<int> tail);
    void setSince(const std::optional<QString>& since);
    void setBoot(bool boot);

    // The command of the current stream, as it was started.
    const Platform::PreparedProcess& streamedProcess() const { return m_streamed; }

    void copy();
    // Offers the text under the source's file name and writes it there; a failed write is shown in an
    // alert over the sheet and changes nothing.
    QCoro::Task<> save();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void stream();
    void updateButtons();

    LogSource m_source;
    std::optional<Runtime> m_runtime;
    bool m_apple;
    std::optional<int> m_tail = 300;
    std::optional<QString> m_since;
    bool m_boot = false;
    bool m_started = false;
    std::unique_ptr<Platform::StreamingProcess> m_process;
    Platform::PreparedProcess m_streamed;

    VoskLabel* m_kind;
    QCheckBox* m_bootToggle = nullptr;
    QComboBox* m_sincePicker = nullptr;
    QComboBox* m_linesPicker = nullptr;
    VoskButton* m_copyButton;
    VoskButton* m_saveButton;
    Transcript* m_transcript;
};
