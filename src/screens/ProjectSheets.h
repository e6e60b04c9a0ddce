#pragma once

class AppStore;
class QWidget;
struct ComposeProject;

// The two project sheets that are built on their own: deleting a project and cloning a repository as
// a new one. The cards, the detail and the empty state open them only through here.
namespace ProjectSheets {

// Opens the delete sheet for `project` (the whole project, not only what a filter shows) over the
// window of `over`.
void openDelete(AppStore& store, const ComposeProject& project, QWidget* over);

// The "Clone a repository…" button the projects empty state shows beside "Add project…"; null
// while there is none.
QWidget* cloneButton(AppStore& store, QWidget* parent);

} // namespace ProjectSheets
