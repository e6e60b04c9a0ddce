#include "app/design/DesktopColorScheme.h"

#include "app/design/DesktopPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

} // namespace

DesktopColorScheme::DesktopColorScheme(QObject* parent, int timeoutMillis)
    : DesktopColorScheme(QDBusConnection::sessionBus(), parent, timeoutMillis)
{
}

DesktopColorScheme::DesktopColorScheme(QDBusConnection bus, QObject* parent, int timeoutMillis)
    : QObject(parent)
{
    if (!bus.isConnected())
        return;

    QDBusMessage read = QDBusMessage::createMethodCall(DesktopPortal::service, DesktopPortal::path,
                                                       settingsInterface, QStringLiteral("Read"));
    read << appearanceGroup << colorSchemeKey;
    const QDBusMessage reply = bus.call(read, QDBus::Block, timeoutMillis);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_dark = prefersDark(reply.arguments().constFirst()).value_or(false);

    bus.connect(DesktopPortal::service, DesktopPortal::path, settingsInterface,
                QStringLiteral("SettingChanged"), this,
                SLOT(onSettingChanged(QString, QString, QDBusVariant)));
}

std::optional<bool> DesktopColorScheme::prefersDark(const QVariant& portalValue)
{
    // Read answers a variant holding a variant; the change signal carries one level less.
    QVariant value = portalValue;
    for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();

    switch (value.metaType().id()) {
    case QMetaType::UInt:
    case QMetaType::Int:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::Short:
    case QMetaType::ULongLong:
    case QMetaType::LongLong:
        return value.toLongLong() == 1;
    default:
        return std::nullopt;
    }
}

void DesktopColorScheme::onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group != appearanceGroup || key != colorSchemeKey)
        return;
    if (const auto dark = prefersDark(value.variant()))
        set(*dark);
}

void DesktopColorScheme::set(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    emit changed(dark);
}
