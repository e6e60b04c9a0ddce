#include "app/shell/TagAlert.h"

#include "store/AppStore.h"

#include <QLineEdit>

TagAlert::TagAlert(AppStore& store, DockerImage image, QWidget* parent)
    : Alert(title(image),
            QStringLiteral(
                "Gives the image a second name. Where a push goes is part of the name, so this is how one "
                "is aimed at another registry or account."),
            parent),
      m_store(store), m_image(std::move(image))
{
    setObjectName(QStringLiteral("tagAlert"));
    m_field = addField(QStringLiteral("registry/account/repository:tag"), QStringLiteral("tagField"));
    addButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, QDialog::Rejected,
              QStringLiteral("cancelButton"));
    addButton(QStringLiteral("Tag"), VoskButtonStyle::Variant::accent, QDialog::Accepted,
              QStringLiteral("tagButton"), true);
    connect(this, &QDialog::finished, this, &TagAlert::answered);
}

TagAlert* TagAlert::openFor(AppStore& store, const DockerImage& image, QWidget* parent)
{
    auto* alert = new TagAlert(store, image, parent ? parent->window() : nullptr);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    return alert;
}

QString TagAlert::title(const DockerImage& image)
{
    return QStringLiteral("Tag ") + image.repository + u':' + image.tag;
}

void TagAlert::answered(int answer)
{
    // The store trims the name and does nothing for an empty one.
    if (answer == QDialog::Accepted)
        m_store.tag(m_image, m_field->text());
}
