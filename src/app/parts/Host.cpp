#include "app/parts/Host.h"

#include "app/parts/DesktopHost.h"

namespace {
Host* g_installed = nullptr;
}

Host& Host::current()
{
    if (g_installed)
        return *g_installed;
    static DesktopHost desktop;
    return desktop;
}

QString Host::couldNotOpen(const QString& what)
{
    return QStringLiteral("Could not open %1.").arg(what);
}

Host* Host::install(Host* host)
{
    Host* previous = g_installed;
    g_installed = host;
    return previous;
}
