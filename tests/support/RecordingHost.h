#pragma once

#include "app/parts/Host.h"

#include <QList>
#include <QQueue>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace TestSupport {

// A host for widget tests: it records every request and answers the choosers from queued answers
// (an empty queue answers "cancelled"). Installed for the life of the object.
class RecordingHost final : public Host {
public:
    RecordingHost();
    ~RecordingHost() override;
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    // The next folder chooser answers with this (none: cancelled).
    void answerFolder(const std::optional<FolderChoice>& answer) { m_folders.enqueue(answer); }
    // The next save panel answers with this path (none: cancelled).
    void answerSaveFile(const std::optional<QString>& path) { m_saves.enqueue(path); }
    // What openTerminal reports (none: the terminal started).
    void failTerminal(const std::optional<QString>& error) { m_terminalError = error; }

    QCoro::Task<std::optional<FolderChoice>> chooseFolder(QWidget* parent, FolderRequest request) override;
    QCoro::Task<std::optional<QString>> chooseSaveFile(QWidget* parent, QString suggestedName) override;
    bool reveal(const QString& folder) override
    {
        revealed << folder;
        return opens;
    }
    bool openUrl(const QUrl& url) override
    {
        opened << url;
        return opens;
    }
    void copy(const QString& text) override { clipboard = text; }
    std::optional<QString> openTerminal(const Platform::PreparedProcess& command) override;

    // Whether reveal and openUrl find something on the desktop to open with.
    bool opens = true;

    QList<FolderRequest> folderRequests;
    QStringList saveSuggestions;
    QStringList revealed;
    QList<QUrl> opened;
    QString clipboard;
    QList<Platform::PreparedProcess> terminals;

private:
    Host* m_previous = nullptr;
    QQueue<std::optional<FolderChoice>> m_folders;
    QQueue<std::optional<QString>> m_saves;
    std::optional<QString> m_terminalError;
};

} // namespace TestSupport
