#include "screens/ProjectsView.h"

#include "app/parts/ChangeBatch.h"
#include "screens/ProjectDetailContent.h"
#include "screens/ProjectsContent.h"
#include "store/AppStore.h"

#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

ProjectsView::ProjectsView(AppStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("projectsView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("projectsScroll"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    m_scroll->setFocusPolicy(Qt::ClickFocus);
    outer->addWidget(m_scroll);

    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("projectsPage"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_content = new ProjectsContent(m_store, page);
    connect(m_content, &ProjectsContent::opened, this, &ProjectsView::open);
    column->addWidget(m_content);
    m_scroll->setWidget(page);

    m_batch = new ChangeBatch(this, [this] { route(); });
    ProjectsContent::watch(*m_batch, m_store);

    // Folders move and compose files come and go without any listing changing: looked at again now
    // and then and as the window becomes active, off the window's thread, so Start, Locate and the
    // ring follow the disk. Nothing is redrawn while the folders stay as they were.
    m_folderCheck = new QTimer(this);
    m_folderCheck->setInterval(folderCheckInterval);
    connect(m_folderCheck, &QTimer::timeout, this, &ProjectsView::checkFolders);
    m_folderCheck->start();
}

void ProjectsView::checkFolders()
{
    if (m_detail)
        m_detail->checkFolder();
    else
        m_content->checkFolders();
}

bool ProjectsView::event(QEvent* event)
{
    // Reaches every shown widget of the window that became active.
    if (event->type() == QEvent::WindowActivate) {
        checkFolders();
        m_folderCheck->start();
    }
    return QWidget::event(event);
}

void ProjectsView::open(const ComposeProject& project)
{
    if (!m_detail)
        m_listOffset = m_scroll->verticalScrollBar()->value();
    m_opened = project.id();
    route();
}

void ProjectsView::close()
{
    m_opened.reset();
    route();
}

void ProjectsView::route()
{
    std::optional<ComposeProject> shown;
    if (m_opened) {
        for (const ComposeProject& project : m_store.projects()) {
            if (project.id() == *m_opened) {
                shown = project;
                break;
            }
        }
    }

    if (!shown) {
        if (m_detail) {
            // Later, not now: its back button may be what led here.
            m_detail->hide();
            m_detail->deleteLater();
            m_detail = nullptr;
            m_content->show();
            // Back where the list was left, once it is laid out again.
            QMetaObject::invokeMethod(
                this, [this] { m_scroll->verticalScrollBar()->setValue(m_listOffset); },
                Qt::QueuedConnection);
        }
        return;
    }
    if (m_detail && m_detail->project().id() == shown->id()) {
        m_detail->setProject(*shown);
        return;
    }
    delete m_detail;
    m_detail = new ProjectDetailContent(m_store, *shown, m_scroll->widget(), m_content->folderChecks());
    connect(m_detail, &ProjectDetailContent::back, this, &ProjectsView::close);
    m_scroll->widget()->layout()->addWidget(m_detail);
    m_content->hide();
    m_detail->show();
    m_scroll->verticalScrollBar()->setValue(0);
}
