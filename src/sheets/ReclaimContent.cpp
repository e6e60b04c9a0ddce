#include "sheets/ReclaimContent.h"

#include "app/design/KeyedRows.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "sheets/ReclaimRow.h"
#include "sheets/ReclaimSelection.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <memory>

namespace {

// The error texts of the last removal on the error fill; selectable, so they can be copied.
class FailureBox final : public QWidget {
public:
    explicit FailureBox(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("failureBox"));
        text = new VoskLabel(QString(), TextStyles::mono, Vosk::errInk, this);
        text->setObjectName(QStringLiteral("failureLabel"));
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(10, 10, 10, 10);
        column->addWidget(text);
    }

    VoskLabel* text;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Vosk::roundedRect(rect(), Vosk::controlRadius), Vosk::errFill.color());
    }
};

} // namespace

struct ReclaimContent::Group {
    Reclaimable::Kind kind;
    QWidget* box;
    VoskButton* button;
    QList<Reclaimable> items;
    std::unique_ptr<KeyedRows<Reclaimable, ReclaimRow>> rows;
};

const std::array<ReclaimContent::GroupText, 4>& ReclaimContent::groups()
{
    static const std::array<GroupText, 4> table{{
        {Reclaimable::Kind::Container, "Stopped containers",
         "Removed with anything written inside them; their volumes stay. Up recreates a project's "
         "containers. Nothing recreates one marked \u201cnot in a project\u201d or \u201ccompose file "
         "missing\u201d."},
        {Reclaimable::Kind::Image, "Unused images",
         "No container was made from these. One from a registry can be pulled again. One marked \u201cbuilt "
         "here\u201d needs its source, and one with \u201cno tag\u201d cannot be fetched by name."},
        {Reclaimable::Kind::Volume, "Unused volumes",
         "Nothing mounts, binds or names these, and nothing leaves a doubt of it. Their data goes with "
         "them, and this cannot be undone."},
        {Reclaimable::Kind::BuildCache, "Build cache", "The next build starts cold."},
    }};
    return table;
}

ReclaimContent::ReclaimContent(const QList<Reclaimable>& candidates, const QSet<QString>& selected,
                               const QStringList& failures, QWidget* parent)
    : QWidget(parent), m_selected(selected), m_failures(failures)
{
    setObjectName(QStringLiteral("reclaimContent"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);

    auto* box = new FailureBox(this);
    m_failureBox = box;
    m_failureText = box->text;
    column->addWidget(m_failureBox);

    m_empty =
        new VoskLabel(QStringLiteral("Nothing to reclaim: nothing here is stopped, and nothing is unused."),
                      TextStyles::caption, Vosk::muted, this);
    m_empty->setObjectName(QStringLiteral("emptyLabel"));
    m_empty->setWordWrap(true);
    column->addWidget(m_empty);

    static const char* const groupNames[] = {"containerGroup", "imageGroup", "volumeGroup",
                                             "buildCacheGroup"};
    for (std::size_t i = 0; i < groups().size(); ++i) {
        const GroupText& text = groups()[i];
        auto* group = new Group{text.kind, new QWidget(this), nullptr, {}, nullptr};
        group->box->setObjectName(QString::fromLatin1(groupNames[i]));
        auto* groupColumn = new QVBoxLayout(group->box);
        groupColumn->setContentsMargins(0, 0, 0, 0);
        groupColumn->setSpacing(7);

        auto* titleRow = new QHBoxLayout;
        titleRow->setSpacing(8);
        auto* title =
            new VoskLabel(QString::fromUtf8(text.title), TextStyles::sectionLabel, Vosk::muted, group->box);
        title->setObjectName(QStringLiteral("groupTitle"));
        group->button = new VoskButton(QStringLiteral("Select all"), VoskButtonStyle::Variant::ghost,
                                       std::nullopt, group->box);
        group->button->setObjectName(QStringLiteral("selectAllButton"));
        titleRow->addWidget(title, 0, Qt::AlignVCenter);
        titleRow->addStretch(1);
        titleRow->addWidget(group->button, 0, Qt::AlignVCenter);
        groupColumn->addLayout(titleRow);

        auto* explanation =
            new VoskLabel(QString::fromUtf8(text.explanation), TextStyles::note, Vosk::muted, group->box);
        explanation->setObjectName(QStringLiteral("groupExplanation"));
        explanation->setWordWrap(true);
        groupColumn->addWidget(explanation);

        auto* rows = new QVBoxLayout;
        rows->setContentsMargins(0, 1, 0, 0);
        rows->setSpacing(2);
        groupColumn->addLayout(rows);
        group->rows = std::make_unique<KeyedRows<Reclaimable, ReclaimRow>>(
            rows, [](const Reclaimable& item) { return item.id(); },
            [this, group](const Reclaimable& item) {
                const QString id = item.id();
                return new ReclaimRow(
                    item, m_selected.contains(id),
                    [this, id] { choose(ReclaimSelection::toggled(m_selected, id)); }, group->box);
            },
            [this](ReclaimRow* row, const Reclaimable& item, int) {
                row->setItem(item);
                row->setOn(m_selected.contains(item.id()));
            });
        connect(group->button, &QAbstractButton::clicked, this,
                [this, group] { choose(ReclaimSelection::groupToggled(m_selected, group->items)); });

        column->addWidget(group->box);
        m_groups << group;
    }
    m_heldBox = new QWidget(this);
    m_heldBox->setObjectName(QStringLiteral("heldVolumeGroup"));
    auto* heldColumn = new QVBoxLayout(m_heldBox);
    heldColumn->setContentsMargins(0, 0, 0, 0);
    heldColumn->setSpacing(7);
    heldColumn->addWidget(
        new VoskLabel(QStringLiteral("Volumes in use elsewhere"), TextStyles::sectionLabel, Vosk::muted, m_heldBox));
    auto* heldExplanation = new VoskLabel(
        QStringLiteral("Nothing of this runtime mounts these, but something else holds them, or may: each "
                       "says who and how. They are not offered."),
        TextStyles::note, Vosk::muted, m_heldBox);
    heldExplanation->setWordWrap(true);
    heldColumn->addWidget(heldExplanation);
    m_heldText = new VoskLabel(QString(), TextStyles::monoNote, Vosk::muted, m_heldBox);
    m_heldText->setObjectName(QStringLiteral("heldVolumesLabel"));
    m_heldText->setWordWrap(true);
    heldColumn->addWidget(m_heldText);
    column->addWidget(m_heldBox);
    column->addStretch(1);

    m_candidates = candidates;
    sync();
}

ReclaimContent::~ReclaimContent()
{
    qDeleteAll(m_groups);
}

void ReclaimContent::setCandidates(const QList<Reclaimable>& candidates)
{
    if (candidates == m_candidates)
        return;
    m_candidates = candidates;
    sync();
}

void ReclaimContent::setSelected(const QSet<QString>& selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    sync();
}

void ReclaimContent::setFailures(const QStringList& failures)
{
    if (failures == m_failures)
        return;
    m_failures = failures;
    sync();
}

void ReclaimContent::setHeld(const QList<std::pair<Reclaimable, QStringList>>& held)
{
    if (held == m_held)
        return;
    m_held = held;
    sync();
}

void ReclaimContent::choose(const QSet<QString>& selected)
{
    setSelected(selected);
    emit selectedChanged(m_selected);
}

void ReclaimContent::sync()
{
    m_failureText->setPlainText(m_failures.join(u'\n'));
    m_failureBox->setVisible(!m_failures.isEmpty());
    m_empty->setVisible(m_candidates.isEmpty() && m_held.isEmpty());
    QStringList held;
    for (const auto& [item, how] : std::as_const(m_held))
        held << item.name + QStringLiteral(u" \u2014 ") + how.join(QStringLiteral("; "));
    m_heldText->setPlainText(held.join(u'\n'));
    m_heldBox->setVisible(!m_held.isEmpty());
    for (Group* group : std::as_const(m_groups)) {
        group->items.clear();
        for (const Reclaimable& item : std::as_const(m_candidates))
            if (item.kind == group->kind)
                group->items << item;
        group->rows->sync(group->items);
        group->box->setVisible(!group->items.isEmpty());
        group->button->setVisible(group->items.size() >= 2);
        group->button->setText(ReclaimSelection::allTicked(group->items, m_selected)
                                   ? QStringLiteral("Select none")
                                   : QStringLiteral("Select all"));
    }
}
