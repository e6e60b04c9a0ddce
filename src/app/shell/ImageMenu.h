#pragma once

#include "engine/Container.h"

#include <QMenu>

class AppStore;

// The menu of one image row: Run…, Inspect…, Tag… and Push…. It holds a copy of the row's image, and
// each sheet or alert it opens takes its own copy when it opens, so nothing opened from here is ever
// turned towards another image by a refresh.
class ImageMenu : public QMenu {
    Q_OBJECT

public:
    ImageMenu(AppStore& store, const DockerImage& image, QWidget* parent = nullptr);

    const DockerImage& image() const { return m_image; }
    void setImage(const DockerImage& image);

    // A push needs a name to push under: neither the repository nor the tag may be "<none>".
    static bool canPush(const DockerImage& image);

private:
    AppStore& m_store;
    DockerImage m_image;
    QAction* m_push;
};
