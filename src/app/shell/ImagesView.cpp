#include "app/shell/ImagesView.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskCard.h"
#include "app/parts/ChangeBatch.h"
#include "app/parts/EmptyState.h"
#include "app/shell/Hosted.h"
#include "app/shell/ImageRow.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>

#include <memory>

ImagesView::ImagesView(AppStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("imagesView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(8);
    m_pullField = new QLineEdit(content);
    m_pullField->setObjectName(QStringLiteral("pullField"));
    m_pullField->setPlaceholderText(QStringLiteral("repository:tag"));
    m_pullField->setFont(TextStyles::monoField.font());
    m_pullField->setMaximumWidth(320);
    m_pullField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    bar->addWidget(m_pullField, 1);
    m_pullButton = new VoskButton(QStringLiteral("Pull"), VoskButtonStyle::Variant::accent, std::nullopt, content);
    m_pullButton->setObjectName(QStringLiteral("pullButton"));
    bar->addWidget(m_pullButton);
    m_loginButton =
        new VoskButton(QStringLiteral("Registry login…"), VoskButtonStyle::Variant::quiet, std::nullopt, content);
    m_loginButton->setObjectName(QStringLiteral("loginButton"));
    bar->addWidget(m_loginButton);
    bar->addStretch(0);
    bar->addWidget(Hosted::reclaimButton(m_store, QStringLiteral("Reclaim space…"), content));
    layout->addLayout(bar);

    m_empty = new EmptyState(m_store, Category::images, nullptr, content);
    layout->addWidget(m_empty);
    m_card = new VoskCard(content);
    m_card->setObjectName(QStringLiteral("imagesCard"));
    auto* rows = new QVBoxLayout(m_card);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    layout->addWidget(m_card);
    layout->addStretch(1);
    scroll->setWidget(content);

    m_rows = std::make_unique<KeyedRows<DockerImage, ImageRow>>(
        rows, &ImageRow::key, [this](const DockerImage& image) { return new ImageRow(m_store, image, m_card); },
        [this](ImageRow* row, const DockerImage& image, int position) {
            row->showImage(image, m_store.showAll(), position);
        });

    connect(m_pullButton, &VoskButton::clicked, this, &ImagesView::pull);
    // Return pulls only when the button could: with every runtime shown there is no runtime to pull onto.
    connect(m_pullField, &QLineEdit::returnPressed, this, [this] {
        if (!m_store.showAll())
            pull();
    });
    connect(m_pullField, &QLineEdit::textChanged, this, &ImagesView::followChoice);
    connect(m_loginButton, &VoskButton::clicked, this, [this] { Hosted::openRegistryLogin(m_store, this); });

    m_changes = new ChangeBatch(this, [this] { rebuild(); });
    m_changes->watch(&m_store, &AppStore::imagesChanged);
    m_changes->watch(&m_store, &AppStore::filterChanged);
    m_changes->watch(&m_store, &AppStore::showAllChanged);
    connect(&m_store, &AppStore::showAllChanged, this, &ImagesView::followChoice);
    followChoice();
    rebuild();
}

ImagesView::~ImagesView() = default;

void ImagesView::pull()
{
    const QString reference = m_pullField->text();
    if (reference.isEmpty())
        return;
    // As typed: the store trims it, and a text of blanks only then does nothing.
    m_store.pull(reference);
    m_pullField->clear();
}

ImageRow* ImagesView::row(const DockerImage& image) const
{
    return m_rows->row(ImageRow::key(image));
}

qsizetype ImagesView::rowCount() const
{
    return m_rows->size();
}

void ImagesView::followChoice()
{
    const bool all = m_store.showAll();
    m_pullButton->setEnabled(!m_pullField->text().isEmpty() && !all);
    m_loginButton->setEnabled(!all);
    const QString pullHelp = all ? QStringLiteral("Choose one runtime to pull onto") : QStringLiteral("Pull this image");
    if (m_pullButton->toolTip() != pullHelp)
        m_pullButton->setToolTip(pullHelp);
    const QString loginHelp = all ? QStringLiteral("Choose one runtime to log in on")
                                  : QStringLiteral("Log in to a registry, for private pulls and for pushing");
    if (m_loginButton->toolTip() != loginHelp)
        m_loginButton->setToolTip(loginHelp);
}

void ImagesView::rebuild()
{
    const QList<DockerImage> images = m_store.matchingImages();
    m_rows->sync(images);
    const bool empty = images.isEmpty();
    if (m_empty->isVisibleTo(this) != empty)
        m_empty->setVisible(empty);
    if (m_card->isVisibleTo(this) == empty)
        m_card->setVisible(!empty);
}
