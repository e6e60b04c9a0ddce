#pragma once

#include "app/parts/Alert.h"
#include "engine/Container.h"

class AppStore;
class QLineEdit;

// Asks for a second name for an image and tags it. It keeps its own copy of the image, so a refresh
// that reorders or replaces the list while it is open never aims the tag at another image.
class TagAlert : public Alert {
    Q_OBJECT

public:
    TagAlert(AppStore& store, DockerImage image, QWidget* parent = nullptr);

    // Opens a new alert window-modally over `parent`'s window; it deletes itself when it closes.
    static TagAlert* openFor(AppStore& store, const DockerImage& image, QWidget* parent);

    const DockerImage& image() const { return m_image; }

    static QString title(const DockerImage& image);

private:
    void answered(int answer);

    AppStore& m_store;
    DockerImage m_image;
    QLineEdit* m_field;
};
