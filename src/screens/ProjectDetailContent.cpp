#include "screens/ProjectDetailContent.h"

#include "app/design/Eyebrow.h"
#include "app/design/TextStyle.h"
#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/TroubleNotice.h"
#include "platform/HomePath.h"
#include "screens/ContainerGrid.h"
#include "screens/FolderChecks.h"
#include "screens/ProjectControls.h"
#include "screens/ProjectHeading.h"
#include "sheets/LogSource.h"
#include "sheets/LogsView.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"

#include <QBoxLayout>
#include <QResizeEvent>

namespace {

constexpr int padding = 20;

const QString noneYet = QStringLiteral("No containers yet. Start creates them from the compose file.");

QString noneKnown(const std::optional<Runtime>& runtime)
{
    return QStringLiteral("Its containers are not known until %1 answers.")
        .arg(runtime ? runtime->id() : QStringLiteral("the runtime"));
}

QString containerCount(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 container") : QStringLiteral("%1 containers").arg(count);
}

} // namespace

QString ProjectDetailContent::shortDir(const ComposeProject& project, bool folderExists, bool showAll)
{
    if (!project.workingDir || !folderExists)
        return QStringLiteral("working directory no longer exists");
    const QString dir = Platform::abbreviatingHome(*project.workingDir);
    if (showAll && project.runtime)
        return project.runtime->name + QStringLiteral(" · ") + dir;
    return dir;
}

ProjectDetailContent::ProjectDetailContent(AppStore& store, const ComposeProject& project, QWidget* parent,
                                           FolderChecks* checks)
    : QWidget(parent), m_store(store), m_checks(checks ? checks : new FolderChecks(this)), m_project(project)
{
    m_checks->look({project});
    m_folder = m_checks->result(project);
    connect(m_checks, &FolderChecks::changed, this, &ProjectDetailContent::followFolder);

    setObjectName(QStringLiteral("projectDetail"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(padding, padding, padding, padding);
    page->setSpacing(18);

    auto* backButton =
        new VoskButton(QStringLiteral("All projects"), VoskButtonStyle::Variant::ghost, std::nullopt, this);
    backButton->setObjectName(QStringLiteral("backButton"));
    backButton->setSymbol(QStringLiteral("chevron.left"), VoskButton::SymbolSide::leading, 9, 4);
    connect(backButton, &VoskButton::clicked, this, &ProjectDetailContent::back);
    page->addWidget(backButton, 0, Qt::AlignLeft);

    auto* header = new QHBoxLayout;
    header->setSpacing(0);
    m_heading = new ProjectHeading(TextStyles::pageTitle, TextStyles::mono, 3, Qt::AlignTop, this);
    VoskLabel* dir = m_heading->note();
    dir->setObjectName(QStringLiteral("workingDirectory"));
    // The end of a path tells one folder from another.
    dir->setElideMode(Qt::ElideLeft);
    dir->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header->addWidget(m_heading, 1);
    header->addSpacing(8);
    m_controls = new ProjectControls(m_store, m_project, m_folder, false, this);
    header->addWidget(m_controls, 0, Qt::AlignTop);
    page->addLayout(header);

    m_troubleBox = new QVBoxLayout;
    m_troubleBox->setContentsMargins(0, 0, 0, 0);
    m_troubleBox->setSpacing(8);
    page->addLayout(m_troubleBox);
    m_troubles = std::make_unique<KeyedRows<Container, TroubleNotice>>(
        m_troubleBox, [](const Container& c) { return c.id; },
        [this](const Container& c) {
            const std::optional<Runtime> runtime = c.runtime ? c.runtime : m_store.runtime();
            auto* notice = new TroubleNotice(c, runtime, m_store.isApple(runtime), this);
            connect(notice, &TroubleNotice::logsRequested, this,
                    [this](const Container& shown, const std::optional<Runtime>& on, bool apple) {
                        SheetHost::open(window(), new LogsView(LogSource::container(shown), on, apple));
                    });
            return notice;
        },
        [this](TroubleNotice* notice, const Container& c, int) {
            const std::optional<Runtime> runtime = c.runtime ? c.runtime : m_store.runtime();
            notice->setContainer(c, runtime, m_store.isApple(runtime));
        });

    auto* usage = new QVBoxLayout;
    usage->setSpacing(9);
    usage->addWidget(new Eyebrow(QStringLiteral("This project is using"), this));
    m_usageRow = new QWidget(this);
    m_usageRow->setObjectName(QStringLiteral("usageCards"));
    m_usageLayout = new QBoxLayout(QBoxLayout::LeftToRight, m_usageRow);
    m_usageLayout->setContentsMargins(0, 0, 0, 0);
    m_usageLayout->setSpacing(int(usageSpacing));
    const auto vital = [this](const char* icon, const char* title, const char* name, VitalCaption*& caption) {
        caption = new VitalCaption(QString());
        auto* card = new VitalCard(QString::fromLatin1(icon), QString::fromLatin1(title), std::nullopt,
                                   QString(), 0, Vosk::ink, nullptr, caption, m_usageRow);
        card->setObjectName(QString::fromLatin1(name));
        m_usageLayout->addWidget(card, 1);
        return card;
    };
    m_processor = vital("cpu", "Processor", "processorCard", m_processorCaption);
    m_memory = vital("memorychip", "Memory", "memoryCard", m_memoryCaption);
    m_disk = vital("externaldrive", "Disk space", "diskCard", m_diskCaption);
    usage->addWidget(m_usageRow);
    page->addLayout(usage);

    m_noContainers = new VoskLabel(noneYet, TextStyles::body, Vosk::muted, this);
    m_noContainers->setObjectName(QStringLiteral("noContainers"));
    m_noContainers->setWordWrap(true);
    page->addWidget(m_noContainers);

    m_containersSection = new QWidget(this);
    auto* section = new QVBoxLayout(m_containersSection);
    section->setContentsMargins(0, 0, 0, 0);
    section->setSpacing(9);
    m_containersTitle = new Eyebrow(QString(), m_containersSection);
    m_containersTitle->setObjectName(QStringLiteral("containersTitle"));
    section->addWidget(m_containersTitle);
    m_grid = new ContainerGrid(m_store, true, m_containersSection);
    section->addWidget(m_grid);
    page->addWidget(m_containersSection);
    page->addStretch(1);

    apply();
}

void ProjectDetailContent::setProject(const ComposeProject& project)
{
    m_project = project;
    m_checks->look({project});
    m_folder = m_checks->result(project);
    apply();
}

void ProjectDetailContent::checkFolder()
{
    if (isVisible())
        m_checks->lookAgain({m_project});
}

void ProjectDetailContent::waitForFolder()
{
    m_checks->wait();
    followFolder();
}

void ProjectDetailContent::followFolder()
{
    const ProjectFolder found = m_checks->result(m_project);
    if (found == m_folder)
        return;
    m_folder = found;
    apply();
}

void ProjectDetailContent::apply()
{
    const ComposeProject& p = m_project;
    // Until the folder has been looked at, it is taken to be where it was said to be.
    const bool folderThere = m_folder.exists || !m_folder.known;
    const std::optional<QString> unlisted = ProjectControls::unlisted(m_store, p);
    m_heading->setProject(p, m_folder, shortDir(p, folderThere, m_store.showAll()), unlisted);
    VoskLabel* dir = m_heading->note();
    const QString tip = p.workingDir && folderThere ? Vosk::toolTip(*p.workingDir) : QString();
    if (dir->toolTip() != tip)
        dir->setToolTip(tip);
    m_controls->setProject(p, m_folder, false);

    m_troubles->sync(p.troubled());

    ProjectUsage usage = ProjectUsage::of(p, m_store.stats(), m_store.usage(),
                                          !m_store.refreshError() && m_store.awaitingUsage());
    // Nothing is known of what it uses, nor measured, until its runtime answers.
    if (unlisted)
        usage.processor = usage.memory = usage.disk =
            ProjectUsage::Figure{std::nullopt, QString(), 0, *unlisted};
    if (!m_applied || usage != m_usage) {
        const auto show = [](VitalCard* card, VitalCaption* caption, const ProjectUsage::Figure& figure) {
            card->setFigure(figure.value, figure.unit, figure.fraction);
            caption->setCaption(figure.caption);
        };
        show(m_processor, m_processorCaption, usage.processor);
        show(m_memory, m_memoryCaption, usage.memory);
        show(m_disk, m_diskCaption, usage.disk);
        m_usage = usage;
    }

    const bool empty = p.containers.isEmpty();
    const QString none = unlisted ? noneKnown(p.runtime ? p.runtime : m_store.runtime()) : noneYet;
    if (m_noContainers->plainText() != none)
        m_noContainers->setPlainText(none);
    m_noContainers->setVisible(empty);
    m_containersSection->setVisible(!empty);
    const QString count = containerCount(p.containers.size());
    if (m_containersTitle->plainText() != count)
        m_containersTitle->setPlainText(count);
    m_grid->sync(p.containers);
    m_applied = true;
}

bool ProjectDetailContent::usageSideBySide() const
{
    return m_usageLayout->direction() == QBoxLayout::LeftToRight;
}

void ProjectDetailContent::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrangeUsage();
}

void ProjectDetailContent::arrangeUsage()
{
    // Side by side when all three fit at their narrowest, as a row that keeps its own height; else
    // one above the other. The cards hold no minimum width of their own: a row that forced the page
    // wider than the width it was chosen for would have the scroll area and this rule take turns.
    double needed = 2 * usageSpacing;
    for (const VitalCard* card : {m_processor, m_memory, m_disk})
        needed += std::max<double>(minimumUsageCardWidth, card->minimumSizeHint().width());
    const double available = width() - 2 * padding;
    const auto direction = available >= needed ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (m_usageLayout->direction() != direction)
        m_usageLayout->setDirection(direction);
}
