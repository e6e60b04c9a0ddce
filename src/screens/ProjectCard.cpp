#include "screens/ProjectCard.h"

#include "app/design/FlowLayout.h"
#include "app/design/StatStrip.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/AddressPill.h"
#include "app/parts/ContainerChip.h"
#include "app/parts/TroubleNotice.h"
#include "engine/Docker.h"
#include "platform/ByteCount.h"
#include "screens/ProjectControls.h"
#include "screens/ProjectHeading.h"
#include "sheets/LogSource.h"
#include "sheets/LogsView.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int padding = 16;

QStringList containerNames(const ComposeProject& project)
{
    QStringList names;
    for (const Container& c : project.containers)
        names << c.name;
    return names;
}

} // namespace

std::optional<QString> ProjectCard::address(const ComposeProject& project)
{
    QStringList ports;
    for (const Container& c : project.containers)
        if (c.state == u"running")
            ports << c.hostPorts();
    if (ports.size() != 1)
        return std::nullopt;
    return ports.first();
}

ProjectCard::ProjectCard(AppStore& store, const ComposeProject& project, const ProjectFolder& folder,
                         bool emphasize, QWidget* parent)
    : VoskCard(parent), m_store(store), m_project(project), m_folder(folder), m_emphasize(emphasize)
{
    setObjectName(QStringLiteral("projectCard"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(0);
    m_heading = new ProjectHeading(TextStyles::cardTitle, TextStyles::monoNote, 2, Qt::AlignVCenter, this);
    header->addWidget(m_heading, 1);
    header->addSpacing(4);
    auto* details =
        new VoskButton(QStringLiteral("Details"), VoskButtonStyle::Variant::ghost, std::nullopt, this);
    details->setObjectName(QStringLiteral("detailsButton"));
    details->setSymbol(QStringLiteral("chevron.right"), VoskButton::SymbolSide::trailing, 9, 3);
    details->setToolTip(QStringLiteral("This project's containers, one by one"));
    connect(details, &VoskButton::clicked, this, [this] { emit opened(m_project); });
    header->addWidget(details, 0, Qt::AlignVCenter);
    column->addLayout(header);

    m_chips = new QWidget(this);
    m_chips->setObjectName(QStringLiteral("chips"));
    m_chipFlow = new FlowLayout(6, m_chips);
    m_chipFlow->setContentsMargins(0, 0, 0, 0);
    m_chipRows = std::make_unique<KeyedRows<Container, ContainerChip, FlowLayout>>(
        m_chipFlow, [](const Container& c) { return c.id; },
        [this](const Container& c) { return new ContainerChip(c, m_chips); },
        [](ContainerChip* chip, const Container& c, int) { chip->setContainer(c); });
    column->addWidget(m_chips);

    m_troubleBox = new QVBoxLayout;
    m_troubleBox->setContentsMargins(0, 0, 0, 0);
    column->addLayout(m_troubleBox);

    m_figures = new StatStrip(std::nullopt, std::nullopt, std::nullopt, this);
    column->addWidget(m_figures);

    m_controls = new ProjectControls(m_store, m_project, m_folder, m_emphasize, this);
    column->addWidget(m_controls);
    column->addStretch(1);

    apply();
}

void ProjectCard::openLogs(const Container& c, const std::optional<Runtime>& runtime, bool apple)
{
    SheetHost::open(window(), new LogsView(LogSource::container(c), runtime, apple));
}

void ProjectCard::setProject(const ComposeProject& project, const ProjectFolder& folder, bool emphasize)
{
    m_project = project;
    m_folder = folder;
    m_emphasize = emphasize;
    apply();
}

bool ProjectCard::shows(const ComposeProject& project, const ProjectFolder& folder, bool emphasize) const
{
    return emphasize == m_emphasize && folder == m_folder && project == m_project;
}

bool ProjectCard::takeStatuses(const ComposeProject& project, const ProjectFolder& folder, bool emphasize)
{
    if (emphasize != m_emphasize || folder != m_folder ||
        project.containers.size() != m_project.containers.size())
        return false;
    ComposeProject same = project;
    for (qsizetype i = 0; i < same.containers.size(); ++i) {
        const Container& now = project.containers.at(i);
        const Container& shown = m_project.containers.at(i);
        // A trouble notice tells of its container in words of its own: it is drawn again in full.
        if (now.isTroubled() || shown.isTroubled() || now.isFailed() != shown.isFailed() ||
            now.status.contains(u"(unhealthy)") != shown.status.contains(u"(unhealthy)"))
            return false;
        same.containers[i].status = shown.status;
    }
    if (same != m_project)
        return false;
    m_project = project;
    m_chipRows->sync(m_project.containers);
    m_controls->takeStatuses(m_project);
    showFigures();
    return true;
}

void ProjectCard::apply()
{
    const ComposeProject& p = m_project;
    m_heading->setProject(
        p, m_folder, m_store.showAll() && p.runtime ? QStringLiteral("on ") + p.runtime->name : QString(),
        ProjectControls::unlisted(m_store, p));

    // Chips by container id; the address pill, when there is one, stays last.
    m_chipRows->sync(p.containers);
    const std::optional<QString> port = address(p);
    if (m_address && (!port || m_address->port() != *port))
        delete m_address;
    if (port && !m_address) {
        m_address = new AddressPill(*port, true, m_chips);
        m_address->setObjectName(QStringLiteral("addressPill"));
        connect(m_address, &AddressPill::openFailed, &m_store, &AppStore::setError);
        m_chipFlow->addWidget(m_address);
    }
    m_chips->setVisible(!p.containers.isEmpty());

    const QList<Container> troubled = p.troubled();
    if (troubled.isEmpty()) {
        delete m_trouble;
    } else {
        const Container& c = troubled.first();
        const std::optional<Runtime> runtime = c.runtime ? c.runtime : m_store.runtime();
        if (m_trouble && m_trouble->container().id != c.id)
            delete m_trouble;
        if (!m_trouble) {
            m_trouble = new TroubleNotice(c, runtime, m_store.isApple(runtime), this);
            connect(m_trouble, &TroubleNotice::logsRequested, this, &ProjectCard::openLogs);
            m_troubleBox->addWidget(m_trouble);
        } else {
            m_trouble->setContainer(c, runtime, m_store.isApple(runtime));
        }
    }

    showFigures();

    // What the controls act on is the whole project; they look it up themselves when pressed.
    m_controls->setProject(p, m_folder, m_emphasize);
}

void ProjectCard::showFigures()
{
    const ComposeProject& p = m_project;
    const QStringList names = containerNames(p);
    const std::optional<LiveStats>& stats = m_store.stats();
    const std::optional<double> cpu = stats ? stats->cpuOf(names) : std::nullopt;
    const std::optional<qint64> memory = stats ? stats->memoryOf(names) : std::nullopt;
    const std::optional<DiskUsage>& usage = m_store.usage();
    const std::optional<qint64> bytes = usage ? std::optional<qint64>(usage->bytes(p)) : std::nullopt;
    // Most polls bring the same numbers: no text is made for them.
    const Measured measured{cpu, memory, bytes};
    if (m_measured == measured)
        return;
    m_measured = measured;
    const std::optional<QString> disk = Platform::diskFigure(bytes);
    const Figures figures{cpu ? std::optional<QString>(Docker::percent(*cpu)) : std::nullopt,
                          memory ? std::optional<QString>(Platform::memorySize(*memory)) : std::nullopt,
                          disk};
    if (!m_figuresShown || figures != *m_figuresShown) {
        m_figures->setFigures(figures.cpu, figures.memory, figures.disk);
        m_figuresShown = figures;
    }
}
