#pragma once

#include <QString>

// Where the desktop's portals answer on the session bus: the colour scheme and the file chooser.
namespace DesktopPortal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");

} // namespace DesktopPortal
