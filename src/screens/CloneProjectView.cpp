#include "screens/CloneProjectView.h"

#include "app/design/Divider.h"
#include "app/design/Eyebrow.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Host.h"
#include "app/parts/Preferences.h"
#include "engine/Container.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/HomePath.h"
#include "screens/Git.h"
#include "sheets/Band.h"
#include "sheets/CommandRunView.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

QVBoxLayout* addField(QVBoxLayout* form, QWidget* parent, const QString& caption)
{
    auto* stack = new QVBoxLayout;
    stack->setSpacing(4);
    stack->addWidget(new Eyebrow(caption, parent));
    form->addLayout(stack);
    return stack;
}

} // namespace

CloneProjectView::CloneProjectView(AppStore& store, QWidget* parent)
    : QDialog(parent), m_store(store),
      // The store's own settings are the application's one settings object, so the parent chosen here
      // is the one every window reads (and a diagnostic store keeps it in its own suite).
      m_preferences(new Preferences(store.defaults(), this))
{
    setObjectName(QStringLiteral("cloneProjectSheet"));
    setWindowTitle(QStringLiteral("Clone a repository"));
    setFixedWidth(width);

    auto* header = new Band(Vosk::chrome, 10, this);
    header->row()->addWidget(
        new VoskLabel(QStringLiteral("Clone a repository"), TextStyles::sheetTitle, Vosk::ink, header), 0,
        Qt::AlignVCenter);
    header->row()->addStretch(1);
    auto* cancel =
        new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    header->row()->addWidget(cancel, 0, Qt::AlignVCenter);

    auto* body = new QWidget(this);
    auto* form = new QVBoxLayout(body);
    form->setContentsMargins(16, 16, 16, 16);
    form->setSpacing(12);

    m_url = new QLineEdit(body);
    m_url->setObjectName(QStringLiteral("urlField"));
    m_url->setFont(TextStyles::monoField.font());
    m_url->setPlaceholderText(QStringLiteral("https://github.com/owner/repository.git"));
    addField(form, body, QStringLiteral("Repository"))->addWidget(m_url);

    auto* into = new QHBoxLayout;
    into->setSpacing(8);
    m_into = new VoskLabel(QString(), TextStyles::monoField, Vosk::ink, body);
    m_into->setObjectName(QStringLiteral("intoLabel"));
    m_into->setElideMode(Qt::ElideLeft);
    m_into->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    into->addWidget(m_into, 1, Qt::AlignVCenter);
    auto* choose =
        new VoskButton(QStringLiteral("Choose…"), VoskButtonStyle::Variant::quiet, std::nullopt, body);
    choose->setObjectName(QStringLiteral("chooseButton"));
    into->addWidget(choose, 0, Qt::AlignVCenter);
    addField(form, body, QStringLiteral("Into"))->addLayout(into);

    m_picker = new QComboBox(body);
    m_picker->setObjectName(QStringLiteral("runtimePicker"));
    m_picker->setAccessibleName(QStringLiteral("Run on"));
    m_picker->setFont(TextStyles::monoField.font());
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    addField(form, body, QStringLiteral("Run on"))->addWidget(m_picker, 0, Qt::AlignLeft);

    m_note = new VoskLabel(QString(), TextStyles::note, Vosk::muted, body);
    m_note->setObjectName(QStringLiteral("noteLabel"));
    m_note->setWordWrap(true);
    form->addWidget(m_note);

    auto* actions = new QHBoxLayout;
    actions->addStretch(1);
    m_clone = new VoskButton(QStringLiteral("Clone"), VoskButtonStyle::Variant::accent, std::nullopt, body);
    m_clone->setObjectName(QStringLiteral("cloneButton"));
    actions->addWidget(m_clone);
    form->addLayout(actions);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(new Divider(this));
    column->addWidget(body);

    connect(cancel, &VoskButton::clicked, this, &CloneProjectView::reject);
    connect(choose, &VoskButton::clicked, this, &CloneProjectView::chooseParent);
    connect(m_clone, &VoskButton::clicked, this, &CloneProjectView::clone);
    connect(m_url, &QLineEdit::returnPressed, this, &CloneProjectView::clone);
    connect(m_url, &QLineEdit::textChanged, this, &CloneProjectView::follow);
    connect(m_preferences, &Preferences::cloneParentChanged, this, &CloneProjectView::follow);
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_runtimes.size())
            m_runtime = m_runtimes.at(index);
    });
    connect(&m_store, &AppStore::runtimesChanged, this, &CloneProjectView::fillRuntimes);

    fillRuntimes();
    follow();
    m_url->setFocus();
}

CloneProjectView::~CloneProjectView() = default;

CloneProjectView* CloneProjectView::open(QWidget* over, AppStore& store)
{
    return SheetHost::open(over, new CloneProjectView(store));
}

QString CloneProjectView::url() const
{
    return m_url->text();
}

QString CloneProjectView::parentFolder() const
{
    return m_preferences->cloneParent();
}

std::optional<QString> CloneProjectView::target() const
{
    const std::optional<QString> name = Git::folderName(url());
    if (!name)
        return std::nullopt;
    return parentFolder() + u'/' + *name;
}

std::optional<QString> CloneProjectView::refusal() const
{
    if (Git::controlCharacter(Docker::trimBlanks(url())))
        return QStringLiteral(
            "The address holds a control character (a line break or a tab, say). Type it again "
            "without one.");
    const std::optional<QString> into = target();
    if (Git::controlCharacter(into.value_or(parentFolder())))
        return QStringLiteral(
            "The folder name holds a control character. Choose another folder to clone into.");
    if (into && m_look.path == *into && m_look.done) {
        if (!m_look.answered)
            return Platform::folderNotAnswering(parentFolder());
        if (m_look.taken)
            return QStringLiteral(
                "That folder is already there. Choose another place, or add it with Add project.");
    }
    return std::nullopt;
}

bool CloneProjectView::targetFree() const
{
    const std::optional<QString> into = target();
    return into && m_look.path == *into && m_look.done && m_look.answered && !m_look.taken;
}

QCoro::Task<> CloneProjectView::lookAtTarget(QPointer<CloneProjectView> view, QString path)
{
    // One at a time, claimed for the parent: a parent on a mount that stalls takes one thread, however
    // many targets in it the address names as it is typed.
    // Something there, a link that leads nowhere included: git would not clone there.
    auto look = Platform::lookAtFolderFor(QFileInfo(path).path(), Platform::Looks::taken(path));
    const std::optional<bool> found = co_await std::move(look);
    if (!view)
        co_return;
    view->m_lookingAtTarget = false;
    if (view->m_look.path == path) {
        view->m_look.done = true;
        view->m_look.answered = found.has_value();
        view->m_look.taken = found.value_or(false);
    }
    view->follow(); // and the target typed meanwhile
}

void CloneProjectView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_runtime) {
        m_runtime = m_store.defaultAddRuntime();
        fillRuntimes();
    }
    follow();
}

bool CloneProjectView::event(QEvent* event)
{
    // The folder may have come or gone while the user was elsewhere.
    if (event->type() == QEvent::WindowActivate) {
        m_look = {};
        follow();
    }
    return QDialog::event(event);
}

void CloneProjectView::follow()
{
    const std::optional<QString> into = target();
    if (into && m_look.path != *into && !m_lookingAtTarget && !Git::controlCharacter(*into)) {
        m_look = {*into};
        m_lookingAtTarget = true;
        lookAtTarget(this, *into); // runs on by itself
    }
    m_into->setPlainText(Platform::abbreviatingHome(into.value_or(parentFolder())));
    m_into->setToolTip(Vosk::toolTip(into.value_or(parentFolder())));
    const std::optional<QString> refused = refusal();
    m_note->setPlainText(refused.value_or(QStringLiteral(
        "The folder is added as a project once it is cloned, if there is a compose file at its top.")));
    m_note->setInk(refused ? Vosk::errInk : Vosk::muted);
    m_clone->setEnabled(!refused && targetFree());
    fitHeight();
}

void CloneProjectView::fillRuntimes()
{
    const QList<Runtime> runtimes = m_store.addableRuntimes();
    if (m_runtime && !runtimes.contains(*m_runtime))
        m_runtime = m_store.defaultAddRuntime();
    if (runtimes != m_runtimes) {
        m_runtimes = runtimes;
        m_picker->clear();
        for (const Runtime& runtime : runtimes)
            m_picker->addItem(runtime.id());
    }
    const qsizetype index = m_runtime ? m_runtimes.indexOf(*m_runtime) : -1;
    m_picker->setCurrentIndex(int(index));
}

void CloneProjectView::fitHeight()
{
    // As tall as the form needs at its fixed width: a longer note takes more lines.
    if (QLayout* column = layout())
        setFixedHeight(column->totalHeightForWidth(width));
}

CommandRunView* CloneProjectView::clone()
{
    const std::optional<QString> destination = target();
    if (!destination || refusal() || !targetFree())
        return nullptr;
    const QString address = url();
    const std::optional<QString> name = Git::folderName(address);
    const QPointer<AppStore> store(&m_store);
    const std::optional<Runtime> runtime = m_runtime;
    auto* output = new CommandRunView(
        QStringLiteral("Cloning ") + name.value_or(QStringLiteral("repository")),
        QStringLiteral("$ git clone ") + address + u' ' + Platform::abbreviatingHome(*destination),
        [address, destination = *destination] { return Git::cloneProcess(address, destination); },
        [store, destination = *destination, runtime](std::optional<int> status) {
            add(store, destination, runtime, status); // runs on by itself
        });
    output->setObjectName(QStringLiteral("cloneOutputSheet"));
    // Over the window this form covers: the form itself closes now.
    SheetHost::open(parentWidget(), output);
    accept();
    return output;
}

void CloneProjectView::chooseParent()
{
    askForParent(this);
}

QCoro::Task<> CloneProjectView::askForParent(QPointer<CloneProjectView> view)
{
    Host::FolderRequest request;
    request.title = QStringLiteral("Clone Into");
    request.prompt = QStringLiteral("Choose");
    request.message =
        QStringLiteral("Choose the folder to clone into. The repository gets a folder of its own inside it.");
    request.startIn = view->parentFolder();
    request.canCreateFolders = true;
    auto choosing = Host::current().chooseFolder(view.data(), request);
    const std::optional<Host::FolderChoice> choice = co_await std::move(choosing);
    if (!view || !choice)
        co_return;
    view->m_preferences->setCloneParent(choice->path);
}

QCoro::Task<> CloneProjectView::add(QPointer<AppStore> store, QString dir, std::optional<Runtime> runtime,
                                    std::optional<int> gitStatus)
{
    // Only what git says it finished: a clone stopped half-way can leave a .git folder behind.
    if (!store || gitStatus != 0)
        co_return;
    auto look = Platform::lookAtFolderFor(dir, Platform::Looks::exists(dir + QStringLiteral("/.git")));
    const std::optional<bool> repository = co_await std::move(look);
    if (!store)
        co_return;
    if (!repository) {
        store->setError(QStringLiteral("Cloned, but not added as a project. ") +
                        Platform::folderNotAnswering(dir));
        co_return;
    }
    if (!*repository)
        co_return;
    auto adding = store->addProject(dir, runtime);
    const std::optional<QString> message = co_await std::move(adding);
    if (message && store)
        store->setError(QStringLiteral("Cloned, but not added as a project. ") + *message);
}
