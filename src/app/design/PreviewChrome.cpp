#include "app/design/PreviewChrome.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/Vosk.h"

#include <QPainter>

namespace {

constexpr char previewProperty[] = "voskPreviewChrome";

} // namespace

void setVoskPreviewChrome(QWidget* root, bool on)
{
    if (!root)
        return;
    root->setProperty(previewProperty, on);
    root->update();
    for (QWidget* child : root->findChildren<QWidget*>())
        child->update();
}

bool voskPreviewChrome(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QVariant value = w->property(previewProperty);
        if (value.isValid())
            return value.toBool();
    }
    return false;
}

EllipsisMenuButton::EllipsisMenuButton(QWidget* parent) : MenuButton(parent)
{
    setAccessibleName(QStringLiteral("More"));
}

QSize EllipsisMenuButton::sizeHint() const
{
    return {boxWidth, 18};
}

void EllipsisMenuButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Symbols::paint(painter, QStringLiteral("ellipsis"), QRectF(rect()), symbolSize, Vosk::muted.color());
    if (FocusRing::shows(this))
        FocusRing::paint(painter, QRectF(rect()), Vosk::controlRadius);
}

bool EllipsisMenuButton::opens() const
{
    return !voskPreviewChrome(this) && MenuButton::opens();
}
