#pragma once

#include "engine/ComposeProject.h"

#include <QFont>
#include <QWidget>

#include <optional>

class Token;
class VoskBadge;

// A compose project's one-line status: how many of its containers run, how many are unhealthy and
// how many failed, and a badge when its folder is gone or holds no compose file. The line never looks
// at the folder itself: it is told what a look found.
class ProjectStatusLine : public QWidget {
    Q_OBJECT

public:
    // What the project's folder says about it.
    enum class Folder { ready, noComposeFile, missing };

    // `folder`: what the last look at the project's folder found; none while it has not been looked
    // at, which shows no badge.
    explicit ProjectStatusLine(const ComposeProject& project, std::optional<Folder> folder = std::nullopt,
                               QWidget* parent = nullptr);

    // `unlisted`: what stands in for the status while the project's runtime has not answered a listing
    // ("Waiting for <runtime>…"); nothing is then said of what runs.
    void setProject(const ComposeProject& project, std::optional<Folder> folder,
                    const std::optional<QString>& unlisted = std::nullopt);

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

        bool operator==(const Run&) const = default;
    };
    // The runs that fit `width` drawn one after another: whole while they fit, then the first that
    // does not, cut and ended with "…", and nothing after it.
    static QList<Run> fit(const QList<Run>& runs, const QFont& font, double width);

private:
    class Runs;

    Runs* m_runs;
    VoskBadge* m_badge;
};
