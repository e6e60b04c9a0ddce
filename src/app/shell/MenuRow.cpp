#include "app/shell/MenuRow.h"

#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ContainerDot.h"
#include "app/parts/StateAction.h"
#include "app/parts/StatusDot.h"
#include "store/AppStore.h"

#include <QHBoxLayout>
#include <QPainter>

MenuRow::MenuRow(AppStore& store, const Container& container, QWidget* parent)
    : QWidget(parent), m_store(store), m_container(container)
{
    setObjectName(QStringLiteral("menuRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 3, 6, 3);
    row->setSpacing(8);
    m_dot = new StatusDot(dot(container), 7, this);
    row->addWidget(m_dot, 0, Qt::AlignVCenter);
    m_name = new VoskLabel(container.name, TextStyles::caption, Vosk::ink, this);
    m_name->setObjectName(QStringLiteral("containerName"));
    m_name->setElideMode(Qt::ElideMiddle);
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(m_name, 1);
    row->addSpacing(4);
    m_button = new VoskButton(actionTitle(container.state), VoskButtonStyle::Variant::quiet, 46, this);
    m_button->setObjectName(QStringLiteral("containerActionButton"));
    connect(m_button, &VoskButton::clicked, this, &MenuRow::act);
    row->addWidget(m_button, 0, Qt::AlignVCenter);
    showContainer(container);
}

QString MenuRow::actionTitle(const QString& state)
{
    return StateAction::title(state);
}

void MenuRow::showContainer(const Container& container)
{
    m_container = container;
    static_cast<StatusDot*>(m_dot)->setFill(dot(container));
    m_name->setPlainText(container.name);
    const QString title = actionTitle(container.state);
    if (m_button->text() != title) {
        m_button->setText(title);
        m_button->updateGeometry();
    }
}

void MenuRow::act()
{
    // The state as the row shows it decides, with the row's own copy of the container.
    perform(m_store, m_container);
}

void MenuRow::perform(AppStore& store, const Container& container)
{
    StateAction::perform(store, container);
}

void MenuRow::enterEvent(QEnterEvent* event)
{
    m_hovering = true;
    update();
    QWidget::enterEvent(event);
}

void MenuRow::leaveEvent(QEvent* event)
{
    m_hovering = false;
    update();
    QWidget::leaveEvent(event);
}

void MenuRow::paintEvent(QPaintEvent*)
{
    if (!m_hovering)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor wash = Vosk::wash.color();
    wash.setAlphaF(0.6);
    painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::controlRadius), wash);
}
