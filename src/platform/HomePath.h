#pragma once

#include <QString>

namespace Platform {

// `path` as people read it: a leading home folder written as "~" ("/home/ada/web" -> "~/web", the
// home folder itself -> "~"). Only a whole leading folder counts: "/srv/home-of-ada" and
// "/home/adam" stay as they are, and a home of "/" or "" shortens nothing. `home` defaults to the
// user's home folder.
QString abbreviatingHome(const QString& path);
QString abbreviatingHome(const QString& path, QString home);

} // namespace Platform
