#include "app/shell/ImageRow.h"

#include "app/design/PreviewChrome.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/shell/ImageMenu.h"
#include "store/AppStore.h"

#include <QTextBoundaryFinder>

namespace {

// The text with a break allowed after every character. An image name can hold a run far longer than a
// row with no blank, slash or hyphen in it; wrapped only at words it would widen the whole list until
// every row's buttons left the window.
QString breakable(const QString& text)
{
    QString shown;
    shown.reserve(text.size() * 2);
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype from = 0;
    for (qsizetype to = characters.toNextBoundary(); to > 0; to = characters.toNextBoundary()) {
        shown += QStringView(text).sliced(from, to - from);
        if (to < text.size())
            shown += QChar(0x200B); // zero width space
        from = to;
    }
    return shown;
}

} // namespace

ImageRow::ImageRow(AppStore& store, const DockerImage& image, QWidget* parent)
    : ListRow(parent), m_store(store), m_image(image)
{
    setObjectName(QStringLiteral("imageRow"));
    nameLabel()->setObjectName(QStringLiteral("imageName"));
    nameLabel()->setWordWrap(true);
    detailLabel()->setObjectName(QStringLiteral("imageDetail"));
    detailLabel()->setWordWrap(true);
    for (VoskLabel* label : {nameLabel(), detailLabel()})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(removeButton(), &VoskButton::clicked, this, [this] { m_store.remove(m_image); });

    auto* more = new EllipsisMenuButton(this);
    more->setObjectName(QStringLiteral("imageMenuButton"));
    m_menu = new ImageMenu(store, image, more);
    more->setMenu(m_menu);
    addControl(more);
    showTexts(breakable(displayName(image)), {}, 0);
}

void ImageRow::showImage(const DockerImage& image, bool showAll, int position)
{
    m_image = image;
    m_menu->setImage(image);
    showTexts(breakable(displayName(image)), breakable(detailLine(image, showAll)), position);
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
    parts << image.id << image.size;
    return parts.join(QStringLiteral(" \u00B7 "));
}

QString ImageRow::key(const DockerImage& image)
{
    return Docker::runtimeId(image.runtime) + u'/' + image.id + u'/' + displayName(image);
}
