#include "screens/ProjectSheets.h"

#include "screens/CloneProjectButton.h"
#include "screens/DeleteProjectView.h"

namespace ProjectSheets {

void openDelete(AppStore& store, const ComposeProject& project, QWidget* over)
{
    DeleteProjectView::open(over, store, project);
}

QWidget* cloneButton(AppStore& store, QWidget* parent)
{
    return new CloneProjectButton(store, parent);
}

} // namespace ProjectSheets
