#include "screens/DeleteProjectContent.h"

#include "app/design/PreviewChrome.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "platform/HomePath.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace {

// The Trash choice: the desktop's own checkbox, or, under the preview switch, a still picture of one.
class TrashChoice final : public QCheckBox {
public:
    explicit TrashChoice(QWidget* parent) : QCheckBox(QStringLiteral("Move to Trash"), parent)
    {
        setObjectName(QStringLiteral("trashToggle"));
        setFont(TextStyles::label.font());
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (!voskPreviewChrome(this)) {
            QCheckBox::paintEvent(event);
            return;
        }
        constexpr double side = 13;
        constexpr double spacing = 6;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(0, (height() - side) / 2, side, side);
        Symbols::paint(painter,
                       isChecked() ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square"), box,
                       side, (isChecked() ? Vosk::ion : Vosk::muted).color());
        painter.setFont(font());
        painter.setPen(Vosk::ink.color());
        painter.drawText(QRectF(side + spacing, 0, width() - side - spacing, height()),
                         Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
    }
};

// A path over at most two lines, its head given up first: the end of a path says which folder it is.
// Selectable, so it can be copied.
class PathLines final : public VoskLabel {
public:
    PathLines(const QString& path, QWidget* parent) : VoskLabel(path, TextStyles::mono, Vosk::muted, parent)
    {
        setObjectName(QStringLiteral("directoryLabel"));
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        VoskLabel::resizeEvent(event);
        const QString shown =
            DeleteProjectContent::fromTheEnd(plainText(), QFontMetricsF(font()), contentsRect().width(), 2);
        if (shown != text())
            QLabel::setText(shown);
    }
};

QVBoxLayout* addSection(QVBoxLayout* column, QWidget* parent, const QString& objectName, const QString& title,
                        const QString& detail)
{
    auto* section = new QWidget(parent);
    section->setObjectName(objectName);
    auto* stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(7);
    stack->addWidget(new VoskLabel(title, TextStyles::sectionLabel, Vosk::muted, section));
    auto* explanation = new VoskLabel(detail, TextStyles::note, Vosk::muted, section);
    explanation->setWordWrap(true);
    stack->addWidget(explanation);
    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(0, 1, 0, 0);
    rows->setSpacing(5);
    stack->addLayout(rows);
    column->addWidget(section);
    return rows;
}

// One planned item: its symbol, its name (shortened in the middle) and, right-aligned at least a
// spacing away, its size.
// Returns the size label, hidden while `trailing` is none.
VoskLabel* addRow(QVBoxLayout* rows, QWidget* parent, const QString& icon, const QString& title,
                  const std::optional<QString>& trailing, const Token& tint)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    line->addWidget(new SymbolView(icon, 11, tint, parent, 14), 0, Qt::AlignVCenter);
    auto* name = new VoskLabel(title, TextStyles::listItem, Vosk::ink, parent);
    name->setObjectName(QStringLiteral("itemLabel"));
    name->setElideMode(Qt::ElideMiddle);
    name->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    line->addWidget(name, 1, Qt::AlignVCenter);
    auto* size = new VoskLabel(trailing.value_or(QString()), TextStyles::monoNote, Vosk::muted, parent);
    size->setObjectName(QStringLiteral("sizeLabel"));
    size->setVisible(trailing.has_value());
    line->addWidget(size, 0, Qt::AlignVCenter);
    rows->addLayout(line);
    return size;
}

} // namespace

DeleteProjectContent::DeleteProjectContent(const TeardownPlan& plan, bool trashDirectory, QWidget* parent)
    : QWidget(parent), m_plan(plan), m_trashDirectory(trashDirectory && plan.workingDir.has_value())
{
    setObjectName(QStringLiteral("deleteProjectContent"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);

    // What the plan could not make sure of comes first: it says why the plan is shorter than expected.
    if (!plan.notes.isEmpty()) {
        auto* notes = new VoskLabel(plan.notes.join(u'\n'), TextStyles::note, Vosk::errInk, this);
        notes->setObjectName(QStringLiteral("planNotesLabel"));
        notes->setWordWrap(true);
        column->addWidget(notes);
    }

    if (!plan.containers.isEmpty()) {
        QVBoxLayout* rows = addSection(column, this, QStringLiteral("containersSection"),
                                       QStringLiteral("Containers"), QStringLiteral("Stopped and removed."));
        for (const QString& container : plan.containers)
            addRow(rows, this, QStringLiteral("shippingbox"), container, std::nullopt, Vosk::errInk);
    }

    const QList<VolumeUse> removable = plan.removable();
    if (!removable.isEmpty()) {
        QVBoxLayout* rows =
            addSection(column, this, QStringLiteral("volumesSection"), QStringLiteral("Volumes"),
                       QStringLiteral("Nothing else mounts, binds or names these, and nothing leaves a "
                                      "doubt of it. Their data goes with them, and this cannot be undone."));
        for (const VolumeUse& volume : removable)
            m_sizes.insert(volume.name, addRow(rows, this, QStringLiteral("externaldrive"), volume.name,
                                               volume.size, Vosk::errInk));
    }

    const QList<VolumeUse> kept = plan.kept();
    if (!kept.isEmpty()) {
        QVBoxLayout* rows =
            addSection(column, this, QStringLiteral("keptSection"), QStringLiteral("Kept — in use elsewhere"),
                       QStringLiteral("Something outside this project holds these, or may: each says who "
                                      "and how. They are left alone."));
        for (const VolumeUse& volume : kept) {
            auto* stack = new QVBoxLayout;
            stack->setSpacing(2);
            rows->addLayout(stack);
            m_sizes.insert(volume.name, addRow(stack, this, QStringLiteral("externaldrive.badge.checkmark"),
                                               volume.name, volume.size, Vosk::success));
            auto* users = new VoskLabel(volume.heldSaying().join(u'\n'), TextStyles::monoNote, Vosk::muted, this);
            users->setObjectName(QStringLiteral("usedByLabel"));
            users->setWordWrap(true);
            users->setContentsMargins(22, 0, 0, 0);
            stack->addWidget(users);
        }
    }

    if (plan.workingDir) {
        QVBoxLayout* rows = addSection(
            column, this, QStringLiteral("filesSection"), QStringLiteral("Files"),
            QStringLiteral("The compose file, any .env beside it, and everything else in this directory."));
        m_trash = new TrashChoice(this);
        m_trash->setChecked(m_trashDirectory);
        connect(m_trash, &QCheckBox::toggled, this, &DeleteProjectContent::setTrashDirectory);
        rows->addWidget(m_trash);
        rows->addWidget(new PathLines(Platform::abbreviatingHome(*plan.workingDir), this));
        // The Trash takes the folder itself; the name its containers know it by leads there through a
        // link, which is not the project's to take.
        if (plan.folderLink) {
            auto* link = new VoskLabel(QStringLiteral("Its containers name it ") +
                                           Platform::abbreviatingHome(*plan.folderLink) +
                                           QStringLiteral(", through a link; the link stays where it is."),
                                       TextStyles::note, Vosk::muted, this);
            link->setObjectName(QStringLiteral("folderLinkLabel"));
            link->setWordWrap(true);
            rows->addWidget(link);
        }
        // Who may see the folder go, said next to the choice it weighs on.
        if (!plan.trashNotes.isEmpty()) {
            auto* doubts =
                new VoskLabel(plan.trashNotes.join(u'\n'), TextStyles::note, Vosk::muted, this);
            doubts->setObjectName(QStringLiteral("trashNotesLabel"));
            doubts->setWordWrap(true);
            rows->addWidget(doubts);
        }
    }

    // One sentence, true for the choice made: with the Trash, the project's bind-mounted folders inside
    // its folder go too.
    m_note = new VoskLabel(noteText(plan, m_trashDirectory), TextStyles::note, Vosk::muted, this);
    m_note->setObjectName(QStringLiteral("noteLabel"));
    m_note->setWordWrap(true);
    column->addWidget(m_note);
    column->addStretch(1);
}

QString DeleteProjectContent::noteText(const TeardownPlan& plan, bool trashDirectory)
{
    if (!trashDirectory || !plan.workingDir)
        return QStringLiteral("Bind-mounted directories and images are not touched.");
    const QString folder = *plan.workingDir;
    const QString inside = folder.endsWith(u'/') ? folder : folder + u'/';
    QStringList along;
    for (const QString& bind : plan.folderBinds) {
        // The folder itself bind-mounted goes anyway: that is the choice.
        if (bind == folder || bind == inside)
            continue;
        along << (bind.startsWith(inside) ? QStringLiteral("./") + bind.mid(inside.size())
                                          : Platform::abbreviatingHome(bind));
    }
    const QString untouched =
        QStringLiteral("Images and bind-mounted directories outside this folder are not touched");
    if (along.isEmpty())
        return untouched + u'.';
    return untouched + QStringLiteral("; those inside it (") + along.join(QStringLiteral(", ")) +
           QStringLiteral(") go to the Trash with it.");
}

void DeleteProjectContent::setTrashDirectory(bool on)
{
    // Without a folder there is nothing to move.
    on = on && m_trash;
    if (on == m_trashDirectory)
        return;
    m_trashDirectory = on;
    if (m_trash && m_trash->isChecked() != on)
        m_trash->setChecked(on);
    if (m_note)
        m_note->setPlainText(noteText(m_plan, on));
    emit trashDirectoryChanged(on);
}

void DeleteProjectContent::showSizes(const TeardownPlan& plan)
{
    for (const VolumeUse& volume : plan.volumes) {
        VoskLabel* size = m_sizes.value(volume.name);
        if (!size || !volume.size)
            continue;
        size->setPlainText(*volume.size);
        size->setVisible(true);
    }
}

QString DeleteProjectContent::fromTheEnd(const QString& text, const QFontMetricsF& metrics, double width,
                                         int lines)
{
    if (width <= 0 || lines <= 0 || text.isEmpty())
        return text;
    // Greedy, a whole character at a time (never half a surrogate pair); none when it takes more lines.
    const auto wrapped = [&](QStringView what) -> std::optional<QString> {
        QString out;
        double used = 0;
        int count = 1;
        for (qsizetype i = 0; i < what.size();) {
            const qsizetype length = what.at(i).isHighSurrogate() && i + 1 < what.size() ? 2 : 1;
            const QString character = what.mid(i, length).toString();
            const double advance = metrics.horizontalAdvance(character);
            if (used > 0 && used + advance > width) {
                if (++count > lines)
                    return std::nullopt;
                out += u'\n';
                used = 0;
            }
            out += character;
            used += advance;
            i += length;
        }
        return out;
    };
    if (const std::optional<QString> whole = wrapped(text))
        return *whole;
    // The longest tail that fits behind the ellipsis.
    const QString ellipsis = QStringLiteral("…");
    qsizetype low = 0;
    qsizetype high = text.size() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (wrapped(ellipsis + text.right(middle)))
            low = middle;
        else
            high = middle - 1;
    }
    qsizetype keep = low;
    if (keep > 0 && keep < text.size() && text.at(text.size() - keep).isLowSurrogate())
        --keep;
    return wrapped(ellipsis + text.right(keep)).value_or(ellipsis);
}
