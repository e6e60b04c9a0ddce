#pragma once

#include "engine/Usage.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>

class VoskButton;
class VoskLabel;

// The reclaim sheet's list: the failures of the last removal, then the candidates in four groups
// (stopped containers, unused images, unused volumes, build cache), each with what removing its items
// costs. Rows and group buttons change the ticks and report them through selectedChanged; the sheet
// owns the ticks and hands them back with setSelected. A new measurement updates rows in place.
class ReclaimContent final : public QWidget {
    Q_OBJECT

public:
    ReclaimContent(const QList<Reclaimable>& candidates, const QSet<QString>& selected,
                   const QStringList& failures, QWidget* parent = nullptr);
    ~ReclaimContent() override;

    void setCandidates(const QList<Reclaimable>& candidates);
    void setSelected(const QSet<QString>& selected);
    void setFailures(const QStringList& failures);
    // The volumes measured as unused that something else holds, with how: shown apart, never ticked.
    void setHeld(const QList<std::pair<Reclaimable, QStringList>>& held);
    const QSet<QString>& selected() const { return m_selected; }

    struct GroupText {
        Reclaimable::Kind kind;
        const char* title;
        const char* explanation;
    };
    static const std::array<GroupText, 4>& groups();

signals:
    void selectedChanged(const QSet<QString>& selected);

private:
    struct Group;

    void choose(const QSet<QString>& selected);
    void sync();

    QList<Reclaimable> m_candidates;
    QSet<QString> m_selected;
    QStringList m_failures;

    QWidget* m_failureBox;
    VoskLabel* m_failureText;
    VoskLabel* m_empty;
    QList<std::pair<Reclaimable, QStringList>> m_held;
    QWidget* m_heldBox;
    VoskLabel* m_heldText;
    QList<Group*> m_groups;
};
