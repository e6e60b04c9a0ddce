#include "app/shell/Banner.h"

#include "app/design/Symbols.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVariantAnimation>

Banner::Banner(const Look& look, QWidget* parent)
    : QWidget(parent), m_look(look), m_animation(new QVariantAnimation(this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_row = new QWidget(this);
    auto* row = new QHBoxLayout(m_row);
    row->setContentsMargins(12, 9, 12, 9);
    row->setSpacing(10);
    const Qt::Alignment align = look.alignTop ? Qt::AlignTop : Qt::AlignVCenter;

    auto* icon = new SymbolView(QString::fromLatin1(look.symbol), 13, *look.iconInk, m_row);
    row->addWidget(icon, 0, align);
    m_text = new VoskLabel({}, *look.face, *look.messageInk, m_row);
    m_text->setObjectName(QStringLiteral("bannerText"));
    if (look.maximumLines > 0) {
        m_text->setWordWrap(true);
        m_text->setMaximumLines(look.maximumLines);
    } else {
        m_text->setElideMode(Qt::ElideRight);
    }
    if (look.selectable)
        m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(m_text, 1, align);
    m_buttons = new QWidget(m_row);
    auto* buttons = new QHBoxLayout(m_buttons);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    row->addWidget(m_buttons, 0, align);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 1); // the hairline
    outer->setSpacing(0);
    outer->addWidget(m_row);

    m_animation->setDuration(animationMillis);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { applyShown(value.toDouble()); });
    applyShown(0);
}

VoskButton* Banner::addButton(const QString& text, int variant, const QString& objectName)
{
    auto* button = new VoskButton(text, VoskButtonStyle::Variant(variant), std::nullopt, m_buttons);
    button->setObjectName(objectName);
    m_buttons->layout()->addWidget(button);
    return button;
}

QString Banner::shownText() const
{
    return m_text->plainText();
}

void Banner::setMessage(const std::optional<QString>& message)
{
    if (message == m_message)
        return;
    const bool wasShown = m_message.has_value();
    m_message = message;
    // Leaving, the old text stays while the strip slides away.
    if (message)
        m_text->setPlainText(*message);
    if (wasShown != message.has_value())
        animateTo(message ? 1 : 0);
}

void Banner::animateTo(double shown)
{
    m_animation->stop();
    // Off screen there is nothing to watch: the strip takes its final state at once.
    if (!window()->isVisible()) {
        applyShown(shown);
        return;
    }
    m_animation->setStartValue(m_shown);
    m_animation->setEndValue(shown);
    m_animation->start();
}

void Banner::applyShown(double shown)
{
    m_shown = shown;
    if (shown <= 0) {
        setGraphicsEffect(nullptr);
        hide();
        setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    show();
    if (shown >= 1) {
        setGraphicsEffect(nullptr);
        setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    // Part-way: cut to a share of its height (it seems to come down from the top edge) and faded.
    const int full = m_row->sizeHint().height() + 1;
    setMaximumHeight(std::max(1, int(full * shown)));
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (!fade) {
        fade = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(fade);
    }
    fade->setOpacity(shown);
}

void Banner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_look.fill->color());
    painter.fillRect(QRect(0, height() - 1, width(), 1), m_look.line->color());
}
