#include "platform/PreparedProcess.h"

#include <QMutex>
#include <QStringDecoder>

namespace Platform {

namespace {
QMutex prefixMutex;
QString prefixOverride;
} // namespace

QString decodeUtf8Strict(const QByteArray& bytes)
{
    // Stateless, so a sequence cut off at the end counts as invalid rather than pending.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    return text;
}

QStringList homebrewBinDirectories()
{
    return {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin")};
}

QString childSearchPath(const QStringList& prefixDirs, const QString& inherited)
{
    QStringList parts;
    if (const QString test = testSearchPrefix(); !test.isEmpty())
        parts << test;
    parts << prefixDirs;
    if (!inherited.isEmpty())
        parts << inherited;
    return parts.join(QLatin1Char(':'));
}

void setTestSearchPrefix(const QString& dir)
{
    QMutexLocker lock(&prefixMutex);
    prefixOverride = dir;
}

QString testSearchPrefix()
{
    QMutexLocker lock(&prefixMutex);
    return prefixOverride;
}

} // namespace Platform
