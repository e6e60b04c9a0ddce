#pragma once

#include "app/design/VoskButton.h"
#include "engine/ComposeProject.h"

#include <QPointer>

#include <optional>

class AppStore;
class ReclaimView;

// The way into the reclaim sheet: a quiet button with the caller's label that opens a fresh sheet for
// one compose project, or for everything in scope. While its sheet is open, pressing it again opens no
// second one. Help text and enabling are the caller's.
class ReclaimButton final : public VoskButton {
    Q_OBJECT

public:
    ReclaimButton(AppStore& store, QString title, std::optional<ComposeProject> project,
                  QWidget* parent = nullptr);

    // The project the next sheet frees space in; a card hands over the project of each refresh.
    void setProject(const std::optional<ComposeProject>& project) { m_project = project; }
    const std::optional<ComposeProject>& project() const { return m_project; }
    // The sheet this button opened, while it is open.
    ReclaimView* sheet() const;

private:
    void present();

    AppStore& m_store;
    std::optional<ComposeProject> m_project;
    QPointer<ReclaimView> m_sheet;
};
