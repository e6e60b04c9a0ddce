#include "app/shell/TagAlert.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

TagAlert::TagAlert(AppStore& store, DockerImage image, QWidget* parent)
    : QDialog(parent), m_store(store), m_image(std::move(image))
{
    setObjectName(QStringLiteral("tagAlert"));
    setWindowTitle(title(m_image));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(420);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    auto* heading = new VoskLabel(title(m_image), TextStyles::sheetTitle, Vosk::ink, this);
    heading->setWordWrap(true);
    layout->addWidget(heading);
    auto* message = new VoskLabel(QStringLiteral("Gives the image a second name. Where a push goes is part of the "
                                                 "name, so this is how one is aimed at another registry or account."),
                                  TextStyles::caption, Vosk::muted, this);
    message->setWordWrap(true);
    layout->addWidget(message);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("tagField"));
    m_field->setPlaceholderText(QStringLiteral("registry/account/repository:tag"));
    m_field->setFont(TextStyles::monoField.font());
    layout->addWidget(m_field);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* confirm = new VoskButton(QStringLiteral("Tag"), VoskButtonStyle::Variant::accent, std::nullopt, this);
    confirm->setObjectName(QStringLiteral("tagButton"));
    buttons->addWidget(cancel);
    buttons->addWidget(confirm);
    layout->addLayout(buttons);

    connect(cancel, &VoskButton::clicked, this, &QDialog::reject);
    connect(confirm, &VoskButton::clicked, this, &TagAlert::tag);
    connect(m_field, &QLineEdit::returnPressed, this, &TagAlert::tag);
}

TagAlert* TagAlert::openFor(AppStore& store, const DockerImage& image, QWidget* parent)
{
    auto* alert = new TagAlert(store, image, parent ? parent->window() : nullptr);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
    return alert;
}

QString TagAlert::title(const DockerImage& image)
{
    return QStringLiteral("Tag ") + image.repository + u':' + image.tag;
}

void TagAlert::tag()
{
    // The store trims the name and does nothing for an empty one.
    m_store.tag(m_image, m_field->text());
    accept();
}
