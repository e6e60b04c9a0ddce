#include "app/design/FocusOrder.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMainWindow>
#include <QPointer>
#include <QScrollArea>
#include <QSet>
#include <QSplitter>
#include <QToolBar>
#include <QWidget>

#include <algorithm>

namespace {

// A control Tab stops at on its own; one with a focus proxy hands the stop on.
bool takesTab(const QWidget* widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
}

// A widget's own children in the order they show, each once.
struct Children {
    QList<QWidget*> list;
    QSet<const QWidget*> seen;

    void add(QWidget* child)
    {
        if (!seen.contains(child)) {
            seen.insert(child);
            list << child;
        }
    }
};

// The widgets `layout` places that are `owner`'s own children, in its order, nested layouts in place.
void placed(const QLayout* layout, const QWidget* owner, Children& out)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (!item)
            continue;
        if (QWidget* widget = item->widget()) {
            if (widget->parentWidget() == owner)
                out.add(widget);
        } else if (const QLayout* inner = item->layout()) {
            placed(inner, owner, out);
        }
    }
}

void collect(const QWidget* widget, QList<QWidget*>& out)
{
    Children ordered;
    if (const QLayout* layout = widget->layout())
        placed(layout, widget, ordered);
    // A splitter places its panes without a layout, and keeps its children in the order it stacks them.
    if (const auto* splitter = qobject_cast<const QSplitter*>(widget))
        for (int i = 0; i < splitter->count(); ++i)
            ordered.add(splitter->widget(i));
    // Whatever no layout places (a scroll area's viewport) in the order it was made.
    for (QObject* object : widget->children())
        if (auto* child = qobject_cast<QWidget*>(object))
            ordered.add(child);
    QList<QWidget*>& children = ordered.list;
    // A main window's layout gives its centre before the tool bars that sit above it.
    if (const auto* main = qobject_cast<const QMainWindow*>(widget))
        std::stable_partition(children.begin(), children.end(), [main](QWidget* child) {
            auto* bar = qobject_cast<QToolBar*>(child);
            return bar && main->toolBarArea(bar) == Qt::TopToolBarArea;
        });
    for (QWidget* child : std::as_const(children)) {
        // Nothing hidden is reached; it finds its place at the first Tab after it shows.
        if (child->isWindow() || (child->isHidden() && child->testAttribute(Qt::WA_WState_ExplicitShowHide)))
            continue;
        if (takesTab(child))
            out << child;
        collect(child, out);
    }
}

void showInScrollAreas(QWidget* focused)
{
    // Innermost first: an outer area then scrolls to where the inner one put the control.
    for (QWidget* above = focused->parentWidget(); above && !above->isWindow();
         above = above->parentWidget()) {
        auto* area = qobject_cast<QScrollArea*>(above);
        if (area && area->widget() && area->widget()->isAncestorOf(focused))
            area->ensureWidgetVisible(focused, 8, 8);
    }
}

class KeyboardNavigation final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::KeyPress: {
            // Seen first at the control with the focus (or at the window, while nothing in it has the
            // focus), then again at each parent it is passed up to.
            const QWidget* focus = QApplication::focusWidget();
            if (focus ? widget != focus : !widget->isWindow())
                break;
            const auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers held =
                key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
            if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && held == Qt::NoModifier)
                FocusOrder::follow(widget->window());
            break;
        }
        case QEvent::FocusIn: {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                reason == Qt::ShortcutFocusReason)
                showInScrollAreas(widget);
            break;
        }
        default:
            break;
        }
        return false;
    }
};

} // namespace

namespace FocusOrder {

QList<QWidget*> onScreen(QWidget* root)
{
    QList<QWidget*> controls;
    if (root)
        collect(root, controls);
    return controls;
}

void follow(QWidget* root)
{
    const QList<QWidget*> controls = onScreen(root);
    if (controls.isEmpty())
        return;
    // The first control right after `root`, so that Tab from nowhere in the window starts there; Qt
    // moves a control only after one that takes the focus itself.
    const Qt::FocusPolicy policy = root->focusPolicy();
    if (!(policy & Qt::TabFocus)) {
        root->setFocusPolicy(Qt::TabFocus);
        QWidget::setTabOrder(root, controls.first());
        root->setFocusPolicy(policy);
    }
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

void install(QApplication& application)
{
    static QPointer<QObject> filter;
    if (filter)
        return;
    filter = new KeyboardNavigation(&application);
    application.installEventFilter(filter);
}

} // namespace FocusOrder
