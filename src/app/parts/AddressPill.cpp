#include "app/parts/AddressPill.h"

#include "app/design/Vosk.h"
#include "app/parts/Host.h"

namespace {

const QString loopback = QStringLiteral("localhost");

} // namespace

AddressPill::AddressPill(const QString& port, bool live, QWidget* parent) : PillButton(parent), m_port(port)
{
    setObjectName(QStringLiteral("addressPill"));
    m_live = !live; // so that setLive draws the face once
    setLive(live);
    connect(this, &QAbstractButton::clicked, this, &AddressPill::open);
}

std::optional<QUrl> AddressPill::address(const QString& port)
{
    const QUrl url(QStringLiteral("http://") + loopback + QLatin1Char(':') + port, QUrl::StrictMode);
    // A port text that spills into a path, a query or user information is no address of a port.
    if (!url.isValid() || url.host() != loopback || url.port() < 0 || !url.path().isEmpty() ||
        url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    return url;
}

void AddressPill::setLive(bool live)
{
    if (live == m_live)
        return;
    m_live = live;
    setFace(loopback + QLatin1Char(':') + m_port, live ? QStringLiteral("arrow.up.right") : QString(),
            live ? Vosk::pillInk : Vosk::muted);
    setEnabled(live);
    const std::optional<QUrl> url = address(m_port);
    const QString shown =
        url ? url->toString() : QStringLiteral("http://") + loopback + QLatin1Char(':') + m_port;
    setToolTip(Vosk::toolTip(live ? QStringLiteral("Open %1 in the browser").arg(shown)
                                  : QStringLiteral("Published on port %1 once it is running").arg(m_port)));
}

void AddressPill::open()
{
    if (!m_live)
        return;
    const std::optional<QUrl> url = address(m_port);
    if (url && !Host::current().openUrl(*url))
        emit openFailed(Host::couldNotOpen(url->toString()));
}
