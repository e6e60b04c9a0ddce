#include "app/parts/Banner.h"

#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace {

Banner::Look errorLook()
{
    return {"exclamationmark.circle",
            &Vosk::errInk,
            &TextStyles::mono,
            &Vosk::errInk,
            &Vosk::errFill,
            &Vosk::errLine,
            true,
            true,
            3};
}

Banner::Look noticeLook()
{
    return {"exclamationmark.triangle",
            &Vosk::badgeInk,
            &TextStyles::mono,
            &Vosk::ink,
            &Vosk::badgeFill,
            &Vosk::line,
            true,
            true,
            3};
}

Banner::Look updateLook()
{
    return {"arrow.down.circle",
            &Vosk::badgeInk,
            &TextStyles::label,
            &Vosk::ink,
            &Vosk::badgeFill,
            &Vosk::line,
            false,
            false,
            0};
}

constexpr int ghost = int(VoskButtonStyle::Variant::ghost);

} // namespace

Banner* Banner::error(QWidget* parent)
{
    auto* banner = new Banner(errorLook(), parent);
    banner->setObjectName(QStringLiteral("errorBanner"));
    banner->addButton(QStringLiteral("Dismiss"), ghost, QStringLiteral("dismissErrorButton"));
    return banner;
}

Banner* Banner::notice(QWidget* parent)
{
    auto* banner = new Banner(noticeLook(), parent);
    banner->setObjectName(QStringLiteral("noticeBanner"));
    banner->addButton(QStringLiteral("Dismiss"), ghost, QStringLiteral("dismissNoticeButton"));
    return banner;
}

Banner* Banner::update(QWidget* parent)
{
    auto* banner = new Banner(updateLook(), parent);
    banner->setObjectName(QStringLiteral("updateBanner"));
    banner->addButton(QStringLiteral("Update in Settings"), int(VoskButtonStyle::Variant::quiet),
                      QStringLiteral("updateInSettingsButton"));
    banner->addButton(QStringLiteral("Dismiss"), ghost, QStringLiteral("dismissUpdateButton"));
    return banner;
}

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

    // The row is placed by hand, against the bottom edge: while the strip is only partly there, the
    // row's lower part shows, so it seems to come down from the top edge.

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

VoskButton* Banner::button(const QString& objectName) const
{
    return m_buttons->findChild<VoskButton*>(objectName, Qt::FindDirectChildrenOnly);
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
    if (message) {
        m_text->setPlainText(*message);
        updateGeometry();
        placeRow();
    }
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
    updateGeometry();
    if (shown <= 0) {
        setGraphicsEffect(nullptr);
        hide();
        return;
    }
    show();
    if (shown >= 1) {
        setGraphicsEffect(nullptr);
        return;
    }
    // Part-way: a share of its height, and faded.
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (!fade) {
        fade = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(fade);
    }
    fade->setOpacity(shown);
}

int Banner::fullHeight(int width) const
{
    const int row = m_row->hasHeightForWidth() ? m_row->heightForWidth(width) : m_row->sizeHint().height();
    return row + 1;
}

int Banner::heightForWidth(int width) const
{
    return std::max(1, int(std::ceil(fullHeight(width) * std::clamp(m_shown, 0.0, 1.0))));
}

QSize Banner::sizeHint() const
{
    const int width = std::max(this->width(), m_row->minimumSizeHint().width());
    return {m_row->sizeHint().width(), heightForWidth(width)};
}

QSize Banner::minimumSizeHint() const
{
    return {m_row->minimumSizeHint().width(), heightForWidth(width())};
}

void Banner::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeRow();
}

void Banner::placeRow()
{
    const int row = fullHeight(width()) - 1;
    m_row->setGeometry(0, height() - 1 - row, width(), row);
}

void Banner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_look.fill->color());
    painter.fillRect(QRect(0, height() - 1, width(), 1), m_look.line->color());
}
