#include "app/shell/ImageRow.h"

#include "app/design/Divider.h"
#include "app/design/PreviewChrome.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/shell/ImageMenu.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

ImageRow::ImageRow(AppStore& store, const DockerImage& image, QWidget* parent)
    : QWidget(parent), m_store(store), m_image(image)
{
    setObjectName(QStringLiteral("imageRow"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_divider = new Divider(this);
    outer->addWidget(m_divider);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(14, 11, 14, 11);
    row->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_name = new VoskLabel(displayName(image), TextStyles::rowTitle, Vosk::ink, this);
    m_name->setObjectName(QStringLiteral("imageName"));
    m_name->setWordWrap(true);
    m_detail = new VoskLabel({}, TextStyles::mono, Vosk::muted, this);
    m_detail->setObjectName(QStringLiteral("imageDetail"));
    m_detail->setWordWrap(true);
    texts->addWidget(m_name);
    texts->addWidget(m_detail);
    row->addLayout(texts, 1);

    auto* remove = new VoskButton(QStringLiteral("Remove"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    remove->setObjectName(QStringLiteral("removeButton"));
    // No confirmation: an image that is still needed can be pulled again.
    connect(remove, &VoskButton::clicked, this, [this] { m_store.remove(m_image); });
    row->addWidget(remove, 0, Qt::AlignVCenter);

    auto* more = new EllipsisMenuButton(this);
    more->setObjectName(QStringLiteral("imageMenuButton"));
    m_menu = new ImageMenu(store, image, more);
    more->setMenu(m_menu);
    row->addWidget(more, 0, Qt::AlignVCenter);
    outer->addLayout(row);
}

void ImageRow::showImage(const DockerImage& image, bool showAll, int position)
{
    m_image = image;
    m_menu->setImage(image);
    m_name->setPlainText(displayName(image));
    m_detail->setPlainText(detailLine(image, showAll));
    const bool divided = position > 0;
    if (m_divider->isVisibleTo(this) != divided)
        m_divider->setVisible(divided);
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
