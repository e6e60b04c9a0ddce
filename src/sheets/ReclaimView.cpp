#include "sheets/ReclaimView.h"

#include "app/design/BusyIndicator.h"
#include "app/design/Divider.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Alert.h"
#include "app/parts/DialogAnswer.h"
#include "sheets/Band.h"
#include "sheets/ReclaimContent.h"
#include "sheets/ReclaimHeader.h"
#include "sheets/ReclaimSelection.h"
#include "sheets/ReclaimWarning.h"
#include "sheets/SheetParts.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

ReclaimView::ReclaimView(AppStore& store, std::optional<ComposeProject> project, QWidget* parent)
    : QDialog(parent), m_store(store), m_project(std::move(project))
{
    setObjectName(QStringLiteral("reclaimSheet"));
    setWindowTitle(ReclaimHeader::title(m_project));
    setFixedSize(size);

    m_header = new ReclaimHeader(m_project, m_store.usage(), this);

    auto* measuring = new QWidget(this);
    measuring->setObjectName(QStringLiteral("measuringView"));
    auto* measuringColumn = new QVBoxLayout(measuring);
    measuringColumn->setSpacing(10);
    measuringColumn->addStretch(1);
    measuringColumn->addWidget(new BusyIndicator(measuring), 0, Qt::AlignHCenter);
    measuringColumn->addWidget(new VoskLabel(QStringLiteral("Measuring what is on disk\u2026"),
                                             TextStyles::caption, Vosk::muted, measuring),
                               0, Qt::AlignHCenter);
    measuringColumn->addStretch(1);

    m_content = new ReclaimContent({}, {}, {});
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("reclaimScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own for Tab, which goes on to the controls inside; a click still lets keys scroll it.
    scroll->setFocusPolicy(Qt::ClickFocus);
    scroll->setWidget(m_content);

    m_body = new QStackedWidget(this);
    m_body->setObjectName(QStringLiteral("reclaimBody"));
    m_body->addWidget(measuring);
    m_body->addWidget(scroll);

    auto* footer = new Band(Vosk::chrome, 8, this);
    m_busy = new BusyIndicator(footer);
    m_warning = new ReclaimWarning({}, footer);
    m_cancel =
        new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, std::nullopt, footer);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_remove = new VoskButton(QStringLiteral("Nothing selected"), VoskButtonStyle::Variant::danger,
                              std::nullopt, footer);
    m_remove->setObjectName(QStringLiteral("removeButton"));
    footer->row()->addWidget(m_busy, 0, Qt::AlignVCenter);
    footer->row()->addWidget(m_warning, 0, Qt::AlignVCenter);
    footer->row()->addStretch(1);
    footer->row()->addWidget(m_cancel, 0, Qt::AlignVCenter);
    footer->row()->addWidget(m_remove, 0, Qt::AlignVCenter);

    QVBoxLayout* column = SheetParts::stack(this, m_header, m_body);
    column->addWidget(new Divider(this));
    column->addWidget(footer);

    connect(m_content, &ReclaimContent::selectedChanged, this, &ReclaimView::select);
    connect(m_cancel, &QAbstractButton::clicked, this, &ReclaimView::reject);
    connect(m_remove, &QAbstractButton::clicked, this, &ReclaimView::confirm);
    // The list follows every measurement the store makes, also while a removal runs.
    connect(&m_store, &AppStore::usageChanged, this, &ReclaimView::sync);
    sync();
}

QList<Reclaimable> ReclaimView::candidates() const
{
    QList<Reclaimable> free = ReclaimSelection::candidates(m_store.usage(), m_project);
    // A volume something else holds is not unused, whatever the measurement said.
    free.removeIf([this](const Reclaimable& item) { return m_held.contains(item.id()); });
    return free;
}

QList<std::pair<Reclaimable, QStringList>> ReclaimView::held() const
{
    QList<std::pair<Reclaimable, QStringList>> held;
    for (const Reclaimable& item : ReclaimSelection::candidates(m_store.usage(), m_project))
        if (const auto how = m_held.constFind(item.id()); how != m_held.cend())
            held.append({item, *how});
    return held;
}

QList<Reclaimable> ReclaimView::chosen() const
{
    return ReclaimSelection::chosen(candidates(), m_selected);
}

void ReclaimView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_measured && !m_measuring) {
        m_measuring = true;
        measure();
    }
}

QCoro::Task<> ReclaimView::measure()
{
    QPointer<ReclaimView> self(this);
    // Whatever the store measured before: the sheet shows what is on disk now.
    co_await m_store.loadUsage();
    if (!self)
        co_return;
    // Then who else holds the volumes it found: those are shown apart, and not offered.
    const QMap<QString, QStringList> held =
        co_await m_store.heldVolumes(ReclaimSelection::candidates(m_store.usage(), m_project));
    if (!self)
        co_return;
    m_held = held;
    m_measuring = false;
    m_measured = true;
    sync();
}

void ReclaimView::showMeasured(const QSet<QString>& selected)
{
    m_measured = true;
    select(selected);
}

void ReclaimView::select(const QSet<QString>& selected)
{
    m_selected = selected;
    sync();
}

void ReclaimView::confirm()
{
    if (m_working || (m_alert && m_alert->isVisible()))
        return;
    const QList<Reclaimable> chosen = this->chosen();
    if (chosen.isEmpty())
        return;
    const QList<Reclaimable> gone = ReclaimSelection::gone(chosen);
    if (gone.isEmpty()) {
        remove();
        return;
    }
    askThenRemove(gone);
}

QCoro::Task<> ReclaimView::askThenRemove(QList<Reclaimable> gone)
{
    QPointer<ReclaimView> self(this);
    auto* alert = new Alert(QStringLiteral("Remove what cannot be brought back?"),
                            ReclaimSelection::goneMessage(gone), this);
    alert->setObjectName(QStringLiteral("reclaimAlert"));
    alert->addButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, QDialog::Rejected,
                     QStringLiteral("alertCancelButton"));
    alert->addButton(QStringLiteral("Remove"), VoskButtonStyle::Variant::danger, QDialog::Accepted,
                     QStringLiteral("alertRemoveButton"), true);
    m_alert = alert;
    const QPointer<Alert> asked(alert);
    const int answer = co_await answerOf(alert);
    if (asked)
        asked->deleteLater();
    if (!self)
        co_return;
    if (answer == QDialog::Accepted)
        remove();
}

void ReclaimView::remove()
{
    // What is ticked and still listed now, not what was when the alert opened.
    const QList<Reclaimable> items = chosen();
    if (items.isEmpty() || m_working)
        return;
    m_working = true;
    sync();
    removeItems(items);
}

QCoro::Task<> ReclaimView::removeItems(QList<Reclaimable> items)
{
    QPointer<ReclaimView> self(this);
    const QStringList failures = co_await m_store.reclaim(items);
    if (!self)
        co_return;
    m_failures = failures;
    m_selected.clear();
    m_working = false;
    if (m_failures.isEmpty()) {
        accept();
        co_return;
    }
    sync();
}

void ReclaimView::reject()
{
    // On the way out the removal has been told to stop, and a sheet that stayed would hold the quit up
    // while the store measures again.
    if (m_working && !m_store.woundDown())
        return;
    QDialog::reject();
}

void ReclaimView::sync()
{
    const QList<Reclaimable> candidates = this->candidates();
    const QList<Reclaimable> chosen = ReclaimSelection::chosen(candidates, m_selected);
    m_header->setUsage(m_store.usage());
    m_body->setCurrentIndex(m_measured ? 1 : 0);
    m_content->setFailures(m_failures);
    m_content->setSelected(m_selected);
    m_content->setCandidates(candidates);
    m_content->setHeld(held());
    m_busy->setVisible(m_working);
    m_warning->setItems(chosen);
    m_cancel->setText(m_failures.isEmpty() ? QStringLiteral("Cancel") : QStringLiteral("Close"));
    m_cancel->setEnabled(!m_working);
    m_remove->setText(ReclaimSelection::removeTitle(chosen));
    m_remove->setEnabled(!chosen.isEmpty() && !m_working);
}
