#include "app/design/PreviewChrome.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/Vosk.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
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

EllipsisMenuButton::EllipsisMenuButton(QWidget* parent) : QAbstractButton(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("More"));
}

void EllipsisMenuButton::setMenu(QMenu* menu)
{
    m_menu = menu;
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

void EllipsisMenuButton::mousePressEvent(QMouseEvent* event)
{
    if (voskPreviewChrome(this) || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    popUp();
}

void EllipsisMenuButton::keyPressEvent(QKeyEvent* event)
{
    const bool opens = event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                       event->key() == Qt::Key_Enter || event->key() == Qt::Key_Down;
    if (!opens || voskPreviewChrome(this)) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    event->accept();
    popUp();
}

void EllipsisMenuButton::popUp()
{
    if (!m_menu || !isEnabled())
        return;
    m_menu->popup(mapToGlobal(QPoint(0, height())));
}
