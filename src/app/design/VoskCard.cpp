#include "app/design/VoskCard.h"

#include "app/design/Vosk.h"

#include <QChildEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The hairline, drawn by a child kept above the others so a child's own painting never covers it.
class CardEdge : public QWidget {
public:
    explicit CardEdge(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

    const Token* tint = &Vosk::line;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(tint->color(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(Vosk::roundedRect(Vosk::hairlineRect(QRectF(rect())), Vosk::cardRadius - 0.5));
    }
};

} // namespace

VoskCard::VoskCard(QWidget* parent) : QWidget(parent)
{
    m_edge = new CardEdge(this);
    m_edge->setGeometry(rect());
}

void VoskCard::setEdge(const Token& tint)
{
    auto* edge = static_cast<CardEdge*>(m_edge);
    if (edge->tint == &tint)
        return;
    edge->tint = &tint;
    edge->update();
}

const Token& VoskCard::edge() const
{
    return *static_cast<CardEdge*>(m_edge)->tint;
}

void VoskCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::cardRadius), Vosk::card.color());
}

void VoskCard::resizeEvent(QResizeEvent* event)
{
    m_edge->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void VoskCard::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() && m_edge && event->child() != m_edge)
        m_edge->raise();
}

VoskCard* voskCard(QWidget* content, QWidget* parent)
{
    auto* card = new VoskCard(parent);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content);
    return card;
}
