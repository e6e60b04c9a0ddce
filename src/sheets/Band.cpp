#include "sheets/Band.h"

#include "app/design/Vosk.h"

#include <QHBoxLayout>
#include <QPainter>

Band::Band(const Token& fill, int spacing, QWidget* parent) : QWidget(parent), m_fill(&fill)
{
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(12, 12, 12, 12);
    m_row->setSpacing(spacing);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void Band::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), m_fill->color());
}
