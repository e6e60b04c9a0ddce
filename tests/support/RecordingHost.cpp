#include "support/RecordingHost.h"

namespace TestSupport {

RecordingHost::RecordingHost() : m_previous(Host::install(this))
{
}

RecordingHost::~RecordingHost()
{
    Host::install(m_previous);
}

QCoro::Task<std::optional<Host::FolderChoice>> RecordingHost::chooseFolder(QWidget*, FolderRequest request)
{
    folderRequests << request;
    co_return m_folders.isEmpty() ? std::nullopt : m_folders.dequeue();
}

QCoro::Task<std::optional<QString>> RecordingHost::chooseSaveFile(QWidget*, QString suggestedName)
{
    saveSuggestions << suggestedName;
    co_return m_saves.isEmpty() ? std::nullopt : m_saves.dequeue();
}

std::optional<QString> RecordingHost::openTerminal(const Platform::PreparedProcess& command)
{
    terminals << command;
    return m_terminalError;
}

} // namespace TestSupport
