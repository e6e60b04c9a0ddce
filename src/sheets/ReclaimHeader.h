#pragma once

#include "engine/ComposeProject.h"
#include "engine/Usage.h"
#include "sheets/Band.h"

#include <optional>

class VoskLabel;

// The reclaim sheet's header: what is being freed ("Reclaim space", or "Free space in <project>") and,
// once usage is known, how much the project (or everything in scope) takes on disk.
class ReclaimHeader final : public Band {
    Q_OBJECT

public:
    ReclaimHeader(const std::optional<ComposeProject>& project, const std::optional<DiskUsage>& usage,
                  QWidget* parent = nullptr);

    void setUsage(const std::optional<DiskUsage>& usage);

    QString title() const;
    // "<size> on disk"; empty while usage is unknown.
    QString sizeText() const;

    static QString title(const std::optional<ComposeProject>& project);

private:
    std::optional<ComposeProject> m_project;
    VoskLabel* m_title;
    VoskLabel* m_size;
};
