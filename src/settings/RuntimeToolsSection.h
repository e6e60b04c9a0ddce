#pragma once

#include "app/design/KeyedRows.h"
#include "settings/BuilderRow.h"
#include "settings/EngineRow.h"
#include "toolchain/Tool.h"
#include "toolchain/ToolJob.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class BusyIndicator;
class Preferences;
class StatusDot;
class QVBoxLayout;
class ToolRow;
class ToolchainStore;
class VoskButton;
class VoskLabel;

// The runtime tools part of the Settings window: every tool with its versions and the update check,
// a notice when Apple's running services are of another version than their client, the services'
// state, and the cards of the image builder and Colima's engine while those exist. It runs nothing
// itself: a control that needs a long job asks for it through `jobRequested`. It redraws once per
// turn of the event loop however many fields of the toolchain store changed in it.
class RuntimeToolsSection : public QWidget {
    Q_OBJECT

public:
    RuntimeToolsSection(ToolchainStore& toolchain, Preferences& preferences, SocketAccess socket,
                        QWidget* parent = nullptr);
    ~RuntimeToolsSection() override;

    // "SERVICES RUNNING · SERVER 0.5.0 · CHECKED 14:05".
    static QString statusLine(const SystemStatus& status, const std::optional<QDateTime>& lastChecked);
    // The notice's text when the running server is of another version than the client; none otherwise.
    static std::optional<QString> restartNotice(const SystemStatus& status);

    // The cards shown now; null while their tool is missing.
    BuilderRow* builderRow() const { return m_builder; }
    EngineRow* engineRow() const { return m_engine; }
    QList<ToolRow*> toolRows() const;
    // How many times the section has redrawn from the store.
    int redraws() const { return m_redraws; }

signals:
    void jobRequested(const ToolJob& job);
    // A tool's page could not be opened; `message` says so.
    void openFailed(const QString& message);
    // The default socket changed: the runtimes may have too.
    void contextsChanged();

private:
    void redraw();
    void openSystemLogs();

    ToolchainStore& m_toolchain;
    Preferences& m_preferences;
    SocketAccess m_socket;
    int m_redraws = 0;

    BusyIndicator* m_busy;
    VoskButton* m_check;
    std::unique_ptr<KeyedRows<Tool, ToolRow>> m_rows;
    QWidget* m_notice;
    VoskLabel* m_noticeText;
    StatusDot* m_dot;
    VoskLabel* m_status;
    VoskButton* m_start;
    VoskButton* m_logs;
    VoskLabel* m_note;
    VoskLabel* m_noBrew;
    QVBoxLayout* m_builderSlot;
    QVBoxLayout* m_engineSlot;
    QPointer<BuilderRow> m_builder;
    QPointer<EngineRow> m_engine;
};
