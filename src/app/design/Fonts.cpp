#include "app/design/Fonts.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>

QString bundledFontsFolder()
{
    return QStringLiteral(":/Fonts");
}

void registerBundledFonts()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    registerFontsIn(bundledFontsFolder());
}

bool isBundledFontFile(const QString& fileName)
{
    const QFileInfo info(fileName);
    // A dot file such as ".ttf" has no extension at all.
    if (info.completeBaseName().isEmpty())
        return false;
    const QString suffix = info.suffix();
    return suffix == QLatin1String("ttf") || suffix == QLatin1String("ttc");
}

QStringList registerFontsIn(const QString& folder)
{
    QStringList registered;
    const QDir dir(folder);
    if (!dir.exists())
        return registered;
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : entries) {
        if (!isBundledFontFile(name))
            continue;
        if (QFontDatabase::addApplicationFont(dir.filePath(name)) != -1)
            registered.append(name);
    }
    return registered;
}
