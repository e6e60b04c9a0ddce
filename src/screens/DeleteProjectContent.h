#pragma once

#include "engine/Teardown.h"

#include <QFontMetricsF>
#include <QHash>
#include <QWidget>

class QCheckBox;
class VoskLabel;

// What deleting a project would do, read-only: the containers that go, the volumes that go with them,
// the volumes kept because containers outside the project mount them, and the project's folder with
// the choice of moving it to the Trash. The sheet holds it in its scroll area; the screenshots draw it
// on its own.
//
// Under the preview switch the Trash choice is drawn as a still picture of a checkbox in its state.
class DeleteProjectContent final : public QWidget {
    Q_OBJECT

public:
    DeleteProjectContent(const TeardownPlan& plan, bool trashDirectory, QWidget* parent = nullptr);

    bool trashDirectory() const { return m_trashDirectory; }
    void setTrashDirectory(bool on);

    // Sizes the plan now knows that it did not when the content was built; other changes are not shown.
    void showSizes(const TeardownPlan& plan);

    // `text` laid out over at most `lines` lines of `width` (broken anywhere, lines joined by "\n"),
    // its head replaced by "…" when it needs more.
    static QString fromTheEnd(const QString& text, const QFontMetricsF& metrics, double width, int lines);

    // The sentence under the plan for the Trash choice: what is not touched, and with the Trash the
    // project's bind-mounted directories in the folder but the folder itself, each written from the
    // folder ("./data"), that go along.
    static QString noteText(const TeardownPlan& plan, bool trashDirectory);

signals:
    void trashDirectoryChanged(bool on);

private:
    TeardownPlan m_plan;
    bool m_trashDirectory;
    QCheckBox* m_trash = nullptr;
    VoskLabel* m_note = nullptr;
    // The size label of every planned volume, by name; hidden while its size is unknown.
    QHash<QString, VoskLabel*> m_sizes;
};
