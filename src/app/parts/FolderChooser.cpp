#include "app/parts/FolderChooser.h"

#include "platform/DiskLook.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

FolderChooser::FolderChooser(const Host::FolderRequest& request, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("folderChooser"));
    setWindowTitle(request.message);
    setWindowModality(Qt::WindowModal);
    resize(560, 420);

    auto* column = new QVBoxLayout(this);
    auto* message = new QLabel(request.message, this);
    message->setWordWrap(true);
    column->addWidget(message);

    auto* pathRow = new QHBoxLayout;
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("folderPath"));
    m_path->setAccessibleName(QStringLiteral("Folder"));
    auto* up = new QPushButton(QStringLiteral("Enclosing Folder"), this);
    up->setObjectName(QStringLiteral("enclosingButton"));
    up->setAutoDefault(false);
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(up);
    column->addLayout(pathRow);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setAccessibleName(QStringLiteral("Folders"));
    column->addWidget(m_list, 1);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("folderStatus"));
    m_status->setWordWrap(true);
    column->addWidget(m_status);

    auto* extras = new QGridLayout;
    if (request.canCreateFolders) {
        m_newName = new QLineEdit(this);
        m_newName->setObjectName(QStringLiteral("newFolderName"));
        m_newName->setPlaceholderText(QStringLiteral("New folder name"));
        auto* create = new QPushButton(QStringLiteral("New Folder"), this);
        create->setObjectName(QStringLiteral("newFolderButton"));
        create->setAutoDefault(false);
        extras->addWidget(m_newName, 0, 1);
        extras->addWidget(create, 0, 2);
        connect(create, &QPushButton::clicked, this, &FolderChooser::makeFolder);
        connect(m_newName, &QLineEdit::returnPressed, this, &FolderChooser::makeFolder);
    }
    if (!request.choices.isEmpty()) {
        auto* label = new QLabel(request.choicesLabel, this);
        m_choices = new QComboBox(this);
        m_choices->setObjectName(QStringLiteral("runtimeChoice"));
        m_choices->addItems(request.choices);
        m_choices->setCurrentIndex(qBound(0, request.chosen, int(request.choices.size()) - 1));
        label->setBuddy(m_choices);
        extras->addWidget(label, 1, 0);
        extras->addWidget(m_choices, 1, 1, 1, 2);
    }
    column->addLayout(extras);

    auto* buttons = new QDialogButtonBox(this);
    m_accept = buttons->addButton(request.prompt, QDialogButtonBox::AcceptRole);
    m_accept->setObjectName(QStringLiteral("acceptButton"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_accept->setAutoDefault(false);
    cancel->setAutoDefault(false);
    column->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(up, &QPushButton::clicked, this, [this] {
        const QString above = QFileInfo(m_folder).path();
        if (above != m_folder)
            go(above);
    });
    connect(m_path, &QLineEdit::returnPressed, this, &FolderChooser::typedReturn);
    connect(m_path, &QLineEdit::textEdited, m_list, &QListWidget::clearSelection);
    connect(m_path, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_accept->setEnabled(!text.trimmed().isEmpty()); });
    connect(m_list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { go(QDir(m_folder).filePath(item->text())); });

    go(request.startIn.isEmpty() ? QDir::homePath() : resolved(request.startIn));
    m_path->setFocus();
}

QString FolderChooser::chosenPath() const
{
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (!selected.isEmpty())
        return QDir::cleanPath(QDir(m_folder).filePath(selected.first()->text()));
    return resolved(m_path->text());
}

std::optional<int> FolderChooser::choice() const
{
    if (!m_choices)
        return std::nullopt;
    return m_choices->currentIndex();
}

QString FolderChooser::status() const
{
    return m_status->text();
}

QString FolderChooser::resolved(const QString& typed) const
{
    QString path = typed.trimmed();
    if (path == u"~" || path.startsWith(QStringLiteral("~/")))
        path = QDir::homePath() + path.mid(1);
    if (QDir::isRelativePath(path))
        path = QDir(m_folder).filePath(path);
    return QDir::cleanPath(path);
}

void FolderChooser::go(const QString& folder)
{
    m_folder = QDir::cleanPath(folder);
    m_path->setText(m_folder);
    m_list->clear();
    showStatus(QStringLiteral("Looking at %1\u2026").arg(m_folder));
    list(this, m_folder, ++m_serial);
}

void FolderChooser::keyPressEvent(QKeyEvent* event)
{
    // Return belongs to the field or the list it is pressed in; only the button confirms.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FolderChooser::typedReturn()
{
    const QString typed = resolved(m_path->text());
    if (!m_path->text().trimmed().isEmpty())
        go(typed);
}

void FolderChooser::makeFolder()
{
    const QString name = m_newName->text().trimmed();
    if (name.isEmpty())
        return;
    if (name.contains(u'/') || name == u"." || name == u"..") {
        showStatus(QStringLiteral("A folder's name cannot hold \u201C/\u201D or be \u201C.\u201D or \u201C..\u201D."));
        return;
    }
    make(this, m_folder, name);
}

void FolderChooser::showStatus(const QString& text)
{
    m_status->setText(text);
}

QCoro::Task<> FolderChooser::list(QPointer<FolderChooser> chooser, QString folder, quint64 serial)
{
    auto look = Platform::lookAtFolderFor(folder, [folder] {
        Listing listing;
        listing.folder = QFileInfo(folder).isDir();
        if (listing.folder)
            listing.folders = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot,
                                                     QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
        return listing;
    });
    const std::optional<Listing> found = co_await std::move(look);
    // Another folder may be shown by now.
    if (!chooser || chooser->m_serial != serial)
        co_return;
    if (!found) {
        chooser->showStatus(Platform::folderNotAnswering(folder));
        co_return;
    }
    if (!found->folder) {
        chooser->showStatus(QStringLiteral("There is no folder at %1.").arg(folder));
        co_return;
    }
    chooser->m_list->addItems(found->folders);
    chooser->showStatus(found->folders.isEmpty() ? QStringLiteral("No folders in here.") : QString());
}

QCoro::Task<> FolderChooser::make(QPointer<FolderChooser> chooser, QString parent, QString name)
{
    auto look = Platform::lookAtFolderFor(parent, [parent, name] { return QDir(parent).mkdir(name); });
    const std::optional<bool> made = co_await std::move(look);
    if (!chooser)
        co_return;
    if (!made || !*made) {
        chooser->showStatus(made ? QStringLiteral("Could not make the folder %1 in %2.").arg(name, parent)
                                 : Platform::folderNotAnswering(parent));
        co_return;
    }
    chooser->m_newName->clear();
    chooser->go(QDir(parent).filePath(name));
}
