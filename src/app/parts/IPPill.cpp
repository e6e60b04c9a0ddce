#include "app/parts/IPPill.h"

#include "app/design/Vosk.h"
#include "app/parts/Host.h"

IPPill::IPPill(const QString& ip, QWidget* parent) : PillButton(parent)
{
    setObjectName(QStringLiteral("ipPill"));
    setIp(ip);
    connect(this, &QAbstractButton::clicked, this, [this] { Host::current().copy(m_ip); });
}

void IPPill::setIp(const QString& ip)
{
    if (ip == m_ip && !text().isEmpty())
        return;
    m_ip = ip;
    setFace(ip, QStringLiteral("doc.on.doc"), Vosk::pillInk);
    setToolTip(Vosk::toolTip(
        QStringLiteral(
            "Copy %1 \u2014 this container's own address, reachable from this computer on any port")
            .arg(ip)));
}
