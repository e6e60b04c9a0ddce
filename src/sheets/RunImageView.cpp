#include "sheets/RunImageView.h"

#include "app/design/Eyebrow.h"
#include "app/design/FocusRing.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "engine/Listings.h"
#include "sheets/Band.h"
#include "sheets/SheetParts.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

// The environment editor's surround: the text-field fill with a hairline, as the single-line fields
// have it.
class EditorFrame final : public QWidget {
public:
    explicit EditorFrame(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = Vosk::roundedRect(Vosk::hairlineRect(rect()), Vosk::controlRadius);
        painter.fillPath(shape, Vosk::control.color());
        painter.setPen(QPen(Vosk::line.color(), 1));
        painter.drawPath(shape);
    }
};

// A caption and its hint over the control.
QWidget* labelled(const QString& label, const QString& hint, QWidget* control, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* caption = new QHBoxLayout;
    caption->setSpacing(8);
    caption->addWidget(new Eyebrow(label, box), 0, Qt::AlignVCenter);
    caption->addWidget(new VoskLabel(hint, TextStyles::note, Vosk::muted, box), 1, Qt::AlignVCenter);
    column->addLayout(caption);
    control->setParent(box);
    column->addWidget(control);
    return box;
}

} // namespace

RunImageView::RunImageView(AppStore& store, DockerImage image, QWidget* parent)
    : QDialog(parent), m_store(store), m_image(std::move(image))
{
    setObjectName(QStringLiteral("runImageSheet"));
    setWindowTitle(title(m_image));

    auto* header = new Band(Vosk::chrome, 10, this);
    VoskLabel* heading = SheetParts::title(title(m_image), header);
    heading->setToolTip(Vosk::toolTip(title(m_image)));
    auto* cancel =
        new VoskButton(QStringLiteral("Cancel"), VoskButtonStyle::Variant::quiet, std::nullopt, header);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    header->row()->addWidget(heading, 1, Qt::AlignVCenter);
    header->row()->addWidget(cancel, 0, Qt::AlignVCenter);

    auto* formBox = new QWidget(this);
    auto* form = new QVBoxLayout(formBox);
    form->setContentsMargins(16, 16, 16, 16);
    form->setSpacing(12);

    m_name = SheetParts::lineField(QStringLiteral("my-container"), QStringLiteral("nameField"), formBox);
    m_ports = SheetParts::lineField(QStringLiteral("8080:80"), QStringLiteral("portsField"), formBox);
    m_command =
        SheetParts::lineField(QStringLiteral("the image's default"), QStringLiteral("commandField"), formBox);

    auto* envFrame = new EditorFrame(formBox);
    envFrame->setFixedHeight(62);
    m_env = new QPlainTextEdit(envFrame);
    m_env->setObjectName(QStringLiteral("envEditor"));
    m_env->setFont(TextStyles::monoField.font());
    m_env->setFrameShape(QFrame::NoFrame);
    m_env->setTabChangesFocus(true);
    m_env->document()->setDocumentMargin(2);
    // The frame draws the fill; the editor's own background stays clear.
    m_env->viewport()->setAutoFillBackground(false);
    QPalette clear = m_env->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    m_env->setPalette(clear);
    auto* envColumn = new QVBoxLayout(envFrame);
    envColumn->setContentsMargins(4, 4, 4, 4);
    envColumn->addWidget(m_env);
    // The editor draws no ring of its own; the box round it wears it, as a single-line field does.
    FocusRing::wear(envFrame, m_env);

    form->addWidget(labelled(QStringLiteral("Name"), QStringLiteral("Left empty, the runtime makes one up"),
                             m_name, formBox));
    form->addWidget(labelled(QStringLiteral("Ports"), QStringLiteral("host:container, separated by spaces"),
                             m_ports, formBox));
    form->addWidget(
        labelled(QStringLiteral("Environment"), QStringLiteral("One KEY=value per line"), envFrame, formBox));
    form->addWidget(labelled(QStringLiteral("Command"),
                             QStringLiteral("Instead of the image's own. Split on spaces."), m_command,
                             formBox));

    auto* footer = new QHBoxLayout;
    auto* runButton =
        new VoskButton(QStringLiteral("Run"), VoskButtonStyle::Variant::accent, std::nullopt, formBox);
    runButton->setObjectName(QStringLiteral("runButton"));
    footer->addStretch(1);
    footer->addWidget(runButton);
    form->addLayout(footer);

    SheetParts::stack(this, header, formBox);

    // Return in a line field is passed on to the sheet; how it was let go tells a held key from a new one.
    for (QLineEdit* field : {m_name, m_ports, m_command})
        field->installEventFilter(this);

    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(runButton, &QAbstractButton::clicked, this, &RunImageView::run);

    SheetParts::fitHeight(this, width);
}

QString RunImageView::title(const DockerImage& image)
{
    // As listed, "<none>" and all: the run itself goes by id for such an image.
    return QStringLiteral("Run ") + image.repository + u':' + image.tag;
}

QStringList RunImageView::arguments() const
{
    return Docker::runArgs(m_image.ref(), m_name->text(), m_ports->text(), m_env->toPlainText(),
                           m_command->text());
}

void RunImageView::run()
{
    // Once: a second Return before the sheet has gone must not start a second container.
    if (m_ran)
        return;
    m_ran = true;
    const std::optional<Runtime> on = m_image.runtime ? m_image.runtime : m_store.runtime();
    // Not awaited: the store reports the outcome; the sheet is gone by then.
    m_store.act(arguments(), std::nullopt, on);
    accept();
}

bool RunImageView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        m_released = Release{key->key(), key->timestamp()};
    }
    return QDialog::eventFilter(watched, event);
}

bool RunImageView::heldDown(const QKeyEvent& press) const
{
    // X11 repeats a held key as a release and a press of the same moment. Qt marks them as repeats only
    // when it finds the press already waiting as it reads the release, which a busy machine misses.
    return press.isAutoRepeat() ||
           (m_released && m_released->key == press.key() && m_released->at == press.timestamp());
}

void RunImageView::keyPressEvent(QKeyEvent* event)
{
    // Return runs wherever the focus is, except in the environment editor, where it starts a line, and
    // on a button, which takes the key and presses itself (Cancel cancels). A key held down runs nothing:
    // its repeats are those of the Return that chose "Run…" in the menu, still held as the sheet opened.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !m_env->hasFocus()) {
        event->accept();
        if (!heldDown(*event))
            run();
        return;
    }
    QDialog::keyPressEvent(event);
}
