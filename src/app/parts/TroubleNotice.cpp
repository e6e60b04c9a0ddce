#include "app/parts/TroubleNotice.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/ContainerChip.h"

#include <QHBoxLayout>
#include <QPainter>

TroubleNotice::TroubleNotice(const Container& c, const std::optional<Runtime>& runtime, bool apple,
                             QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("troubleNotice"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(11, 6, 7, 6);
    row->setSpacing(8);
    m_message = new VoskLabel(QString(), TextStyles::label, Vosk::errInk, this);
    // A service or container name can run longer than the card; it breaks inside itself to wrap.
    m_message->setBreakLongRuns(true);
    m_message->setMaximumLines(2);
    m_message->setObjectName(QStringLiteral("troubleMessage"));
    m_message->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    // The label draws from its top; held to the height of its lines it sits centred on the button.
    row->addWidget(m_message, 1, Qt::AlignVCenter);
    m_button =
        new VoskButton(QStringLiteral("View logs"), VoskButtonStyle::Variant::danger, std::nullopt, this);
    m_button->setObjectName(QStringLiteral("viewLogsButton"));
    row->addWidget(m_button, 0, Qt::AlignVCenter);
    connect(m_button, &QAbstractButton::clicked, this,
            [this] { emit logsRequested(m_container, m_runtime, m_apple); });
    setContainer(c, runtime, apple);
}

QString TroubleNotice::message(const Container& c)
{
    if (c.state == u"running" && c.status.contains(u"(unhealthy)"))
        return QStringLiteral("%1 is failing its health check").arg(ContainerChip::label(c));
    return QStringLiteral("%1 stopped with an error").arg(ContainerChip::label(c));
}

void TroubleNotice::setContainer(const Container& c, const std::optional<Runtime>& runtime, bool apple)
{
    m_container = c;
    m_runtime = runtime;
    m_apple = apple;
    m_message->setPlainText(message(c));
}

void TroubleNotice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::stripRadius), Vosk::errFill.color());
    painter.setPen(QPen(Vosk::errLine.color(), 1));
    painter.drawPath(Vosk::roundedRect(Vosk::hairlineRect(QRectF(rect())), Vosk::stripRadius - 0.5));
}
