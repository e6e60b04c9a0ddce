#pragma once

#include "app/shell/ListRow.h"
#include "engine/Container.h"

class AppStore;
class ImageMenu;

// One image of the images list: its name and detail line, Remove, and its menu. The row keeps a copy
// of its image; the list keeps the row for the same image across refreshes.
class ImageRow : public ListRow {
    Q_OBJECT

public:
    ImageRow(AppStore& store, const DockerImage& image, QWidget* parent = nullptr);

    // Redraws for `image` at `position` in the list; a divider shows above every row but the first.
    void showImage(const DockerImage& image, bool showAll, int position);
    const DockerImage& image() const { return m_image; }
    ImageMenu* menu() const { return m_menu; }

    // "repository:tag" exactly as listed, "<none>" included.
    static QString displayName(const DockerImage& image);
    // The runtime while all are shown, the id and the size, joined by " · ".
    static QString detailLine(const DockerImage& image, bool showAll);
    // The size the client listed, written as every size in the window is ("2 MB"); "—" for none.
    static QString sizeText(const QString& listed);
    // What the list keeps a row by: the runtime, the image id and the name it is listed under (one
    // image listed under two names is two rows).
    static QString key(const DockerImage& image);

private:
    AppStore& m_store;
    DockerImage m_image;
    ImageMenu* m_menu;
};
