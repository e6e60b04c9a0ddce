#pragma once

#include "engine/Container.h"
#include "engine/Runtime.h"
#include "platform/Settings.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// The fixed inputs the self test's cases share: containers built field by field, the temporary
// folders the cases write into, and the settings suites of their own.
namespace SelfTest {

struct ContainerFields {
    QString id;
    QString name;
    QString image = QStringLiteral("i");
    QString state = QStringLiteral("running");
    QString status = QStringLiteral("Up");
    QMap<QString, QString> labels = {};
    QString ports = {};
    std::optional<Runtime> runtime = std::nullopt;
};

Container makeContainer(const ContainerFields& fields);

// What `field` (a member or a member function) gives for each item, in list order: the names the
// checks compare when only the names matter.
template <typename T, typename Field>
QStringList textsOf(const QList<T>& list, Field field)
{
    QStringList texts;
    for (const T& item : list)
        texts << std::invoke(field, item);
    return texts;
}

// Labels in the shorthand the cases use: the compose project, its service and its working folder.
QMap<QString, QString> composeLabels(const QString& project,
                                     const std::optional<QString>& service = std::nullopt,
                                     const std::optional<QString>& workingDir = std::nullopt);

// A fresh folder in the user's temporary directory: `prefix` and a new UUID. Creating it may fail
// silently; the checks that need it then fail on their own.
QString makeTemporaryFolder(const QString& prefix);
// Deletes the folder with everything in it; errors are ignored.
void removeFolder(const QString& path);
// Writes `text` as UTF-8, replacing the file as a whole; false when it could not.
bool writeFile(const QString& path, const QString& text);

// Opens one of the self test's own settings suites with nothing in it from an earlier run. A suite
// that cannot be opened for reading and writing fails the check: a case that silently skipped its
// checks would still end in "selftest ok".
std::unique_ptr<Platform::Settings> openEmptySuite(const QString& name);
// Opens a suite only to read it; failing to open it fails the check as well.
std::unique_ptr<Platform::Settings> openSuite(const QString& name);
// Closes the suite and removes what it stored.
void removeSuite(std::unique_ptr<Platform::Settings>& suite, const QString& name);

// Runs `body` on a suite opened empty and removes the suite afterwards. A check failing inside ends
// the run before the removal, so the suite stays for whoever looks into the failure.
template <typename Body>
void onEmptySuite(const QString& name, Body body)
{
    std::unique_ptr<Platform::Settings> suite = openEmptySuite(name);
    body(*suite);
    removeSuite(suite, name);
}

} // namespace SelfTest
