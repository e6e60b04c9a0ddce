#include "platform/HomePath.h"

#include <QDir>

namespace Platform {

QString abbreviatingHome(const QString& path)
{
    return abbreviatingHome(path, QDir::homePath());
}

QString abbreviatingHome(const QString& path, QString home)
{
    while (home.size() > 1 && home.endsWith(u'/'))
        home.chop(1);
    // A home at the root would turn every absolute path into "~/...".
    if (home.isEmpty() || home == u"/")
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home) && path.at(home.size()) == u'/')
        return u'~' + path.mid(home.size());
    return path;
}

} // namespace Platform
