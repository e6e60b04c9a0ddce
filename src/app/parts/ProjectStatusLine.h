#pragma once

#include "engine/ComposeProject.h"

#include <QWidget>

class VoskBadge;
class VoskLabel;

// A compose project's one-line status: how many of its containers run, how many are unhealthy and
// how many failed, and a badge when its folder is gone or holds no compose file. The folder is looked
// at when the project is set (once per refresh), never while painting.
class ProjectStatusLine : public QWidget {
    Q_OBJECT

public:
    explicit ProjectStatusLine(const ComposeProject& project, QWidget* parent = nullptr);

    void setProject(const ComposeProject& project);

    // What the project's folder says about it.
    enum class Folder { ready, noComposeFile, missing };
    static Folder folder(const ComposeProject& project);

    struct Counts {
        int unhealthy = 0;
        int failed = 0;
    };
    static Counts counts(const ComposeProject& project);

    // The whole line as read out: "2 of 3 running · 1 unhealthy · 1 failed".
    QString text() const;
    // The badge shown, or none.
    std::optional<QString> badge() const;

private:
    VoskLabel* m_status;
    VoskLabel* m_unhealthySeparator;
    VoskLabel* m_unhealthy;
    VoskLabel* m_failedSeparator;
    VoskLabel* m_failed;
    VoskBadge* m_badge;
};
