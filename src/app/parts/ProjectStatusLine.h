#pragma once

#include "engine/ComposeProject.h"

#include <QFont>
#include <QWidget>

class Token;
class VoskBadge;

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
    // The line as drawn at its width: all of it, or its start and "…".
    QString shownText() const;
    // The badge shown, or none.
    std::optional<QString> badge() const;

    // A piece of the line in its own colour.
    struct Run {
        QString text;
        const Token* ink;
    };
    // The runs that fit `width` drawn one after another: whole while they fit, then the first that
    // does not, cut and ended with "…", and nothing after it.
    static QList<Run> fit(const QList<Run>& runs, const QFont& font, double width);

private:
    class Runs;

    Runs* m_runs;
    VoskBadge* m_badge;
};
