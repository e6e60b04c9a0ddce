#include "diagnostics/selftest/Fixtures.h"

#include "diagnostics/selftest/Check.h"

#include <QDir>
#include <QSaveFile>
#include <QUuid>

namespace SelfTest {

Container makeContainer(const ContainerFields& fields)
{
    Container container;
    container.id = fields.id;
    container.name = fields.name;
    container.image = fields.image;
    container.state = fields.state;
    container.status = fields.status;
    container.ports = fields.ports;
    container.labels = fields.labels;
    container.runtime = fields.runtime;
    return container;
}

QMap<QString, QString> composeLabels(const QString& project, const std::optional<QString>& service,
                                     const std::optional<QString>& workingDir)
{
    QMap<QString, QString> labels{{QString::fromLatin1(Docker::projectLabel), project}};
    if (service)
        labels.insert(QString::fromLatin1(Docker::serviceLabel), *service);
    if (workingDir)
        labels.insert(QString::fromLatin1(Docker::workingDirLabel), *workingDir);
    return labels;
}

QString makeTemporaryFolder(const QString& prefix)
{
    const QString path =
        QDir::tempPath() + u'/' + prefix + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(path);
    return path;
}

void removeFolder(const QString& path)
{
    QDir(path).removeRecursively();
}

bool writeFile(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

std::unique_ptr<Platform::Settings> openEmptySuite(const QString& name)
{
    // Removed before it is opened, so nothing an earlier run left behind is read back.
    Platform::Settings::removeSuite(name);
    return openSuite(name);
}

std::unique_ptr<Platform::Settings> openSuite(const QString& name)
{
    std::unique_ptr<Platform::Settings> suite = Platform::Settings::suite(name);
    check(suite->isUsable(),
          QStringLiteral("the settings suite ") + describe(name) + QStringLiteral(" opens"));
    return suite;
}

void removeSuite(std::unique_ptr<Platform::Settings>& suite, const QString& name)
{
    // Closed first: closing writes pending values back, which would recreate the file.
    suite.reset();
    Platform::Settings::removeSuite(name);
}

} // namespace SelfTest
