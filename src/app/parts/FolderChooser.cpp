#include "app/parts/FolderChooser.h"

#include "app/design/VoskButton.h"
#include "app/parts/Alert.h"
#include "app/parts/ChooserRows.h"
#include "app/parts/DialogAnswer.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"

#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QShortcut>
#include <QSplitter>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// What a list entry is, besides its text.
constexpr int pathRole = Qt::UserRole;
constexpr int isFileRole = Qt::UserRole + 1;

bool hidden(const QString& name)
{
    return name.startsWith(u'.');
}

// How long the places wait for a bookmarked folder to say it is there before they offer it anyway.
constexpr std::chrono::milliseconds placeAnswerLimit{2000};

Host::FolderRequest saveRequest(const QString& startIn)
{
    Host::FolderRequest request;
    request.title = QStringLiteral("Save");
    request.prompt = QStringLiteral("Save");
    request.startIn = startIn;
    return request;
}

QString userName()
{
    return qEnvironmentVariable("USER");
}

} // namespace

FolderChooser::FolderChooser(const Host::FolderRequest& request, QWidget* parent)
    : FolderChooser(Mode::folder, request, QString(), parent)
{
}

FolderChooser::FolderChooser(const QString& suggestedName, const QString& startIn, QWidget* parent)
    : FolderChooser(Mode::save, saveRequest(startIn), suggestedName, parent)
{
}

FolderChooser::FolderChooser(Mode mode, const Host::FolderRequest& request, const QString& suggestedName,
                             QWidget* parent)
    : QDialog(parent), m_mode(mode)
{
    setObjectName(QStringLiteral("folderChooser"));
    // A few words: the title bar cuts a sentence, and the sentence is said in the chooser itself.
    setWindowTitle(request.title.isEmpty() ? defaultTitle() : request.title);
    setWindowModality(Qt::WindowModal);
    resize(680, 460);

    auto* column = new QVBoxLayout(this);
    if (!request.message.isEmpty()) {
        auto* message = new QLabel(request.message, this);
        message->setObjectName(QStringLiteral("chooserMessage"));
        message->setWordWrap(true);
        message->setTextFormat(Qt::PlainText);
        column->addWidget(message);
    }
    if (m_mode == Mode::save) {
        auto* nameRow = new QHBoxLayout;
        auto* label = new QLabel(QStringLiteral("Name:"), this);
        m_name = new QLineEdit(suggestedName, this);
        m_name->setObjectName(QStringLiteral("fileName"));
        label->setBuddy(m_name);
        nameRow->addWidget(label);
        nameRow->addWidget(m_name, 1);
        column->addLayout(nameRow);
    }

    auto* pathRow = new QHBoxLayout;
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("folderPath"));
    m_path->setAccessibleName(QStringLiteral("Folder"));
    m_completions = new QStringListModel(this);
    m_completer = new QCompleter(m_completions, this);
    m_completer->setCaseSensitivity(Qt::CaseSensitive);
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    m_path->setCompleter(m_completer);
    m_up =
        new VoskButton(QStringLiteral("Parent Folder"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
    m_up->setObjectName(QStringLiteral("parentButton"));
    m_up->setToolTip(QStringLiteral("Alt+Up"));
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_up);
    column->addLayout(pathRow);

    auto* lists = new QSplitter(this);
    lists->setChildrenCollapsible(false);
    m_places = new QListWidget(lists);
    m_places->setObjectName(QStringLiteral("placesList"));
    m_places->setAccessibleName(QStringLiteral("Places"));
    new ChooserRows(m_places);
    m_list = new QListWidget(lists);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setAccessibleName(m_mode == Mode::save ? QStringLiteral("Folders and files")
                                                   : QStringLiteral("Folders"));
    new ChooserRows(m_list);
    lists->addWidget(m_places);
    lists->addWidget(m_list);
    lists->setStretchFactor(1, 1);
    lists->setSizes({170, 490});
    column->addWidget(lists, 1);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("folderStatus"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    column->addWidget(m_status);

    auto* extras = new QGridLayout;
    if (request.canCreateFolders) {
        m_newName = new QLineEdit(this);
        m_newName->setObjectName(QStringLiteral("newFolderName"));
        m_newName->setPlaceholderText(QStringLiteral("New folder name"));
        m_create =
            new VoskButton(QStringLiteral("New Folder"), VoskButtonStyle::Variant::quiet, std::nullopt, this);
        m_create->setObjectName(QStringLiteral("newFolderButton"));
        extras->addWidget(m_newName, 0, 1);
        extras->addWidget(m_create, 0, 2);
        connect(m_create, &QAbstractButton::clicked, this, &FolderChooser::makeFolder);
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

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, 64, this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_accept = new VoskButton(request.prompt, VoskButtonStyle::Variant::accent, 64, this);
    m_accept->setObjectName(QStringLiteral("acceptButton"));
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_accept);
    column->addLayout(buttons);

    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_accept, &QAbstractButton::clicked, this, &FolderChooser::confirm);
    connect(m_up, &QAbstractButton::clicked, this, &FolderChooser::goUp);
    connect(m_path, &QLineEdit::returnPressed, this, &FolderChooser::typedReturn);
    connect(m_path, &QLineEdit::textEdited, m_list, &QListWidget::clearSelection);
    connect(m_path, &QLineEdit::textEdited, this, &FolderChooser::complete);
    QLineEdit* required = m_mode == Mode::save ? m_name : m_path;
    connect(required, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_accept->setEnabled(!text.trimmed().isEmpty()); });
    if (m_name)
        connect(m_name, &QLineEdit::returnPressed, this, &FolderChooser::confirm);
    connect(m_list, &QListWidget::itemActivated, this, &FolderChooser::entryChosen);
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (m_name && item->data(isFileRole).toBool())
            m_name->setText(item->text());
    });
    const auto toPlace = [this](QListWidgetItem* item) { go(item->data(pathRole).toString()); };
    connect(m_places, &QListWidget::itemActivated, this, toPlace);
    connect(m_places, &QListWidget::itemClicked, this, toPlace);

    // The keys of a desktop's file chooser. Backspace reaches the shortcut only where no field takes it.
    auto* toggleHidden = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(toggleHidden, &QShortcut::activated, this, [this] { setShowsHidden(!m_showHidden); });
    for (const QKeySequence& key : {QKeySequence(Qt::ALT | Qt::Key_Up), QKeySequence(Qt::Key_Backspace)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &FolderChooser::goUp);

    addPlace(QStringLiteral("Home"), QDir::homePath());
    lookForPlaces(this);
    go(request.startIn.isEmpty() ? QDir::homePath() : resolved(request.startIn));
    m_accept->setEnabled(!required->text().trimmed().isEmpty());
    if (m_name) {
        m_name->setFocus();
        // The name without its ending, ready to be typed over, as desktop save panels offer it.
        const qsizetype dot = suggestedName.lastIndexOf(u'.');
        m_name->setSelection(0, dot > 0 ? dot : suggestedName.size());
    } else {
        m_path->setFocus();
    }
}

QString FolderChooser::chosenPath() const
{
    if (m_mode == Mode::save)
        return m_savePath;
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

QStringList FolderChooser::places() const
{
    QStringList out;
    for (int row = 0; row < m_places->count(); ++row)
        out << m_places->item(row)->text() + u'\t' + m_places->item(row)->data(pathRole).toString();
    return out;
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
    m_listing = {};
    showStatus(QStringLiteral("Looking at %1\u2026").arg(m_folder));
    list(this, m_folder, ++m_serial);
}

void FolderChooser::goUp()
{
    const QString above = QFileInfo(m_folder).path();
    if (above != m_folder)
        go(above);
}

void FolderChooser::setShowsHidden(bool show)
{
    if (show == m_showHidden)
        return;
    m_showHidden = show;
    if (m_listing.isFolder)
        showListing();
}

void FolderChooser::keyPressEvent(QKeyEvent* event)
{
    // Return belongs to the field, the list or the button it is pressed on; nothing confirms on its own.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool FolderChooser::focusNextPrevChild(bool next)
{
    // What choosing takes first: the name, the folder typed or picked from the list, the runtime to add
    // it to, the button. The places, the parent and a new folder come after the buttons, rather than
    // between the path and the button as they stand on screen; Backtab from the path reaches them too.
    const QList<QWidget*> candidates{m_name,   m_path,   m_list, m_choices, m_accept,
                                     m_cancel, m_places, m_up,   m_newName, m_create};
    QList<QWidget*> order;
    for (QWidget* control : candidates)
        if (control && control->isVisibleTo(this) && control->isEnabled())
            order << control;
    const QWidget* focused = focusWidget();
    const auto at = std::find_if(order.cbegin(), order.cend(), [focused](const QWidget* control) {
        return focused && (control == focused || control->isAncestorOf(focused));
    });
    if (at == order.cend())
        return QDialog::focusNextPrevChild(next);
    const qsizetype count = order.size();
    const qsizetype index = ((at - order.cbegin()) + (next ? 1 : count - 1)) % count;
    order.at(index)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void FolderChooser::typedReturn()
{
    if (!m_path->text().trimmed().isEmpty())
        go(resolved(m_path->text()));
}

void FolderChooser::entryChosen(QListWidgetItem* item)
{
    if (!item->data(isFileRole).toBool()) {
        go(QDir(m_folder).filePath(item->text()));
        return;
    }
    if (m_name) {
        m_name->setText(item->text());
        confirm();
    }
}

void FolderChooser::confirm()
{
    if (m_mode == Mode::folder) {
        accept();
        return;
    }
    const QString name = m_name->text().trimmed();
    if (name.isEmpty() || m_checking)
        return;
    // A name may be a path of its own, relative to the folder shown.
    checkSaveTarget(this, resolved(name));
}

void FolderChooser::makeFolder()
{
    const QString name = m_newName->text().trimmed();
    if (name.isEmpty())
        return;
    if (name.contains(u'/') || name == u"." || name == u"..") {
        showStatus(QStringLiteral(
            "A folder's name cannot hold \u201C/\u201D or be \u201C.\u201D or \u201C..\u201D."));
        return;
    }
    make(this, m_folder, name);
}

void FolderChooser::showStatus(const QString& text)
{
    m_status->setText(text);
}

void FolderChooser::showListing()
{
    m_list->clear();
    const auto add = [this](const QStringList& names, bool files) {
        for (const QString& name : names) {
            if (hidden(name) && !m_showHidden)
                continue;
            auto* item = new QListWidgetItem(name, m_list);
            item->setData(isFileRole, files);
        }
    };
    add(m_listing.folders, false);
    if (m_mode == Mode::save)
        add(m_listing.files, true);
    if (m_list->count() > 0)
        showStatus(QString());
    else if (m_listing.folders.isEmpty() && (m_mode == Mode::folder || m_listing.files.isEmpty()))
        showStatus(m_mode == Mode::save ? QStringLiteral("Nothing in here.")
                                        : QStringLiteral("No folders in here."));
    else
        showStatus(QStringLiteral("Only hidden entries in here: Ctrl+H shows them."));
}

void FolderChooser::complete(const QString& typed)
{
    const qsizetype slash = typed.lastIndexOf(u'/');
    if (slash < 0)
        return;
    const QString typedFolder = typed.left(slash + 1);
    const QString folder = resolved(typedFolder);
    if (folder == m_completionFolder)
        return;
    m_completionFolder = folder;
    m_completions->setStringList({});
    lookForCompletion(this, folder, typedFolder);
}

void FolderChooser::addPlace(const QString& name, const QString& path)
{
    auto* item = new QListWidgetItem(name, m_places);
    item->setData(pathRole, path);
    item->setToolTip(path);
}

QCoro::Task<> FolderChooser::list(QPointer<FolderChooser> chooser, QString folder, quint64 serial)
{
    const bool withFiles = chooser->m_mode == Mode::save;
    auto look = Platform::lookAtFolderFor(folder, Platform::Looks::folderListing(folder, withFiles));
    const std::optional<Platform::FolderListing> found = co_await std::move(look);
    // Another folder may be shown by now.
    if (!chooser || chooser->m_serial != serial)
        co_return;
    if (!found) {
        chooser->showStatus(Platform::folderNotAnswering(folder));
        co_return;
    }
    if (!found->isFolder) {
        chooser->showStatus(QStringLiteral("There is no folder at %1.").arg(folder));
        co_return;
    }
    chooser->m_listing = *found;
    chooser->showListing();
}

QCoro::Task<> FolderChooser::make(QPointer<FolderChooser> chooser, QString parent, QString name)
{
    auto look = Platform::lookAtFolderFor(parent, Platform::Looks::newFolder(parent, name));
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

QCoro::Task<> FolderChooser::lookForCompletion(QPointer<FolderChooser> chooser, QString folder,
                                               QString typedFolder)
{
    auto look = Platform::lookAtFolderFor(folder, Platform::Looks::folderListing(folder, false));
    const std::optional<Platform::FolderListing> found = co_await std::move(look);
    if (!chooser || chooser->m_completionFolder != folder)
        co_return;
    if (!found || !found->isFolder) {
        // Looked at again once more is typed.
        chooser->m_completionFolder.clear();
        co_return;
    }
    QStringList offered;
    for (const QString& name : found->folders)
        offered << typedFolder + name + u'/';
    chooser->m_completions->setStringList(offered);
    // Hidden folders are offered once their dot is typed: the completer matches what was typed.
    if (chooser->m_path->hasFocus() && chooser->m_path->text().startsWith(typedFolder)) {
        chooser->m_completer->setCompletionPrefix(chooser->m_path->text());
        if (!chooser->m_path->text().endsWith(u'/') || chooser->m_showHidden)
            chooser->m_completer->complete();
    }
}

QCoro::Task<> FolderChooser::lookForPlaces(QPointer<FolderChooser> chooser)
{
    const QString home = QDir::homePath();
    const QString bookmarksFile = QDir(home).filePath(QStringLiteral(".config/gtk-3.0/bookmarks"));
    const QString user = userName();
    auto drives = Platform::lookAtDisk(Platform::Looks::drives(user));
    const std::optional<QStringList> mounted = co_await std::move(drives);
    auto marks = Platform::lookAtFolderFor(home, Platform::Looks::bookmarks(bookmarksFile));
    const std::optional<Platform::Bookmarks> bookmarks = co_await std::move(marks);
    if (!chooser)
        co_return;
    if (bookmarks) {
        for (qsizetype i = 0; i < bookmarks->paths.size(); ++i) {
            const QString path = bookmarks->paths.at(i);
            // A bookmark whose folder is gone is not offered; one that does not answer in time is, and
            // says so when chosen.
            auto there = Platform::lookAtFolderFor(path, Platform::Looks::folder(path), placeAnswerLimit);
            const std::optional<bool> isThere = co_await std::move(there);
            if (!chooser)
                co_return;
            if (isThere.value_or(true))
                chooser->addPlace(bookmarks->names.at(i), path);
        }
    }
    for (const QString& drive : mounted.value_or(QStringList()))
        chooser->addPlace(QFileInfo(drive).fileName(), drive);
    emit chooser->placesShown();
}

QCoro::Task<> FolderChooser::checkSaveTarget(QPointer<FolderChooser> chooser, QString path)
{
    chooser->m_checking = true;
    const QString parent = QFileInfo(path).path();
    auto look = Platform::lookAtFolderFor(parent, Platform::Looks::saveTarget(path));
    const std::optional<Platform::SaveTarget> target = co_await std::move(look);
    if (!chooser)
        co_return;
    chooser->m_checking = false;
    if (!target) {
        chooser->showStatus(Platform::folderNotAnswering(parent));
        co_return;
    }
    if (target->isFolder) {
        // A folder's name typed as the file's: go into it, as desktop save panels do.
        chooser->m_name->clear();
        chooser->go(path);
        co_return;
    }
    if (!target->parentIsFolder) {
        chooser->showStatus(QStringLiteral("There is no folder at %1.").arg(parent));
        co_return;
    }
    if (target->exists) {
        auto* alert =
            new Alert(QStringLiteral("Replace \u201C%1\u201D?").arg(QFileInfo(path).fileName()),
                      QStringLiteral("A file of that name is already in %1. Saving replaces it.").arg(parent),
                      chooser.data());
        alert->setObjectName(QStringLiteral("replaceAlert"));
        alert->addButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, QDialog::Rejected,
                         QStringLiteral("cancelButton"));
        alert->addButton(QStringLiteral("Replace"), VoskButtonStyle::Variant::danger, QDialog::Accepted,
                         QStringLiteral("replaceButton"), true);
        const QPointer<Alert> asked(alert);
        const int answer = co_await answerOf(alert);
        if (asked)
            asked->deleteLater();
        if (!chooser || answer != QDialog::Accepted)
            co_return;
    }
    chooser->m_savePath = path;
    chooser->accept();
}
