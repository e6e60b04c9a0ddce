#include "app/shell/ImagesView.h"

#include "app/design/TextStyle.h"
#include "app/design/VoskButton.h"
#include "app/parts/ChangeBatch.h"
#include "app/shell/Hosted.h"
#include "app/shell/ImageRow.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QLineEdit>

#include <memory>

ImagesView::ImagesView(AppStore& store, QWidget* parent)
    : ListScreen(store, Category::images, QStringLiteral("imagesCard"), parent), m_store(store)
{
    setObjectName(QStringLiteral("imagesView"));
    QWidget* bar = content();
    topBar()->setSpacing(8);
    m_pullField = new QLineEdit(bar);
    m_pullField->setObjectName(QStringLiteral("pullField"));
    m_pullField->setPlaceholderText(QStringLiteral("repository:tag"));
    m_pullField->setFont(TextStyles::monoField.font());
    m_pullField->setMaximumWidth(320);
    m_pullField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    topBar()->addWidget(m_pullField, 1);
    m_pullButton =
        new VoskButton(QStringLiteral("Pull"), VoskButtonStyle::Variant::accent, std::nullopt, bar);
    m_pullButton->setObjectName(QStringLiteral("pullButton"));
    topBar()->addWidget(m_pullButton);
    m_loginButton =
        new VoskButton(QStringLiteral("Registry login…"), VoskButtonStyle::Variant::quiet, std::nullopt, bar);
    m_loginButton->setObjectName(QStringLiteral("loginButton"));
    topBar()->addWidget(m_loginButton);
    topBar()->addStretch(0);
    topBar()->addWidget(Hosted::reclaimButton(m_store, QStringLiteral("Reclaim space…"), bar));

    m_rows = std::make_unique<KeyedRows<DockerImage, ImageRow>>(
        rows(), &ImageRow::key,
        [this](const DockerImage& image) { return new ImageRow(m_store, image, card()); },
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
    const QString pullHelp =
        all ? QStringLiteral("Choose one runtime to pull onto") : QStringLiteral("Pull this image");
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
    showEmpty(images.isEmpty());
}
