#include "app/shell/ImageRow.h"

#include "app/design/PreviewChrome.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/shell/ImageMenu.h"
#include "engine/Stats.h"
#include "platform/ByteCount.h"
#include "store/AppStore.h"

ImageRow::ImageRow(AppStore& store, const DockerImage& image, QWidget* parent)
    : ListRow(parent), m_store(store), m_image(image)
{
    setObjectName(QStringLiteral("imageRow"));
    nameLabel()->setObjectName(QStringLiteral("imageName"));
    detailLabel()->setObjectName(QStringLiteral("imageDetail"));
    // An image name can hold a run far longer than a row with no blank, slash or hyphen in it; wrapped
    // only at words it would widen the whole list until every row's buttons left the window.
    for (VoskLabel* label : {nameLabel(), detailLabel()}) {
        label->setBreakLongRuns(true);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    connect(removeButton(), &VoskButton::clicked, this, [this] { m_store.remove(m_image); });

    auto* more = new EllipsisMenuButton(this);
    more->setObjectName(QStringLiteral("imageMenuButton"));
    m_menu = new ImageMenu(store, image, more);
    more->setMenu(m_menu);
    addControl(more);
    showTexts(displayName(image), {}, 0);
}

void ImageRow::showImage(const DockerImage& image, bool showAll, int position)
{
    m_image = image;
    m_menu->setImage(image);
    showTexts(displayName(image), detailLine(image, showAll), position);
}

QString ImageRow::displayName(const DockerImage& image)
{
    return image.repository + u':' + image.tag;
}

QString ImageRow::detailLine(const DockerImage& image, bool showAll)
{
    QStringList parts;
    if (showAll && image.runtime)
        parts << image.runtime->id();
    parts << image.id << sizeText(image.size);
    return parts.join(QStringLiteral(" \u00B7 "));
}

QString ImageRow::sizeText(const QString& listed)
{
    // The client prints "1.98MB" where every other size in the window reads "2 MB".
    return Platform::diskFigure(Docker::bytes(listed)).value_or(QStringLiteral("\u2014"));
}

QString ImageRow::key(const DockerImage& image)
{
    return Docker::runtimeId(image.runtime) + u'/' + image.id + u'/' + displayName(image);
}
