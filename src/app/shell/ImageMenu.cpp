#include "app/shell/ImageMenu.h"

#include "app/shell/Hosted.h"
#include "app/shell/TagAlert.h"

ImageMenu::ImageMenu(AppStore& store, const DockerImage& image, QWidget* parent)
    : QMenu(parent), m_store(store), m_image(image)
{
    setObjectName(QStringLiteral("imageMenu"));
    // The window the sheets open over: the row may be gone by the time one closes.
    const auto host = [this] { return parentWidget() ? parentWidget()->window() : nullptr; };
    QAction* run = addAction(QStringLiteral("Run…"), this,
                             [this, host] { Hosted::openRunImage(m_store, m_image, host()); });
    run->setObjectName(QStringLiteral("runAction"));
    QAction* inspect = addAction(QStringLiteral("Inspect…"), this,
                                 [this, host] { Hosted::openInspectImage(m_store, m_image, host()); });
    inspect->setObjectName(QStringLiteral("inspectAction"));
    addSeparator();
    QAction* tag = addAction(QStringLiteral("Tag…"), this,
                             [this, host] { TagAlert::openFor(m_store, m_image, host()); });
    tag->setObjectName(QStringLiteral("tagAction"));
    m_push = addAction(QStringLiteral("Push…"), this,
                       [this, host] { Hosted::openPushImage(m_store, m_image, host()); });
    m_push->setObjectName(QStringLiteral("pushAction"));
    m_push->setEnabled(canPush(m_image));
}

void ImageMenu::setImage(const DockerImage& image)
{
    if (image == m_image)
        return;
    m_image = image;
    m_push->setEnabled(canPush(m_image));
}

bool ImageMenu::canPush(const DockerImage& image)
{
    return image.repository != u"<none>" && image.tag != u"<none>";
}
