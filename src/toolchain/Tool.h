#pragma once

#include <QHashFunctions>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// One runtime tool as the catalogue knows it, with what the survey and the update check found.
struct Tool {
    QString formula; // Homebrew's name for it, and the tool's identity
    QString name;
    QString purpose;
    QString homepage;
    QString binary;
    QStringList versionArgs;
    bool isPlugin = false;
    bool isOptional = false;
    std::optional<QString> installed;
    std::optional<QString> latest;
    bool brewManaged = false;

    const QString& id() const { return formula; }
    // Names one offered update: the formula, a blank and the latest version. It holds the version so
    // that dismissing one update never hides a later one.
    QString updateKey() const;
    // Both versions are known and the installed one is older. Whether Homebrew can apply the update
    // is a separate question (`brewManaged`).
    bool hasUpdate() const;

    bool operator==(const Tool&) const = default;
};

size_t qHash(const Tool& tool, size_t seed = 0) noexcept;

namespace Toolchain {

// The five tools the application depends on, in the order they are shown.
const QList<Tool>& all();

// Formulae whose installation also starts the Apple runtime's services.
const QSet<QString>& runtimeFormulae();
// Formulae that are docker CLI plugins and must be linked into the user's plugin folder.
const QSet<QString>& pluginFormulae();
QSet<QString> pluginFormulae(const QList<Tool>& catalogue);

// The first dotted number in a tool's output ("Docker version 28.2.2, build e6534b4" gives "28.2.2").
std::optional<QString> firstVersion(const QString& text);

// The numeric parts of a version, split at ".", "_" and "-"; a part that is not a number reads as 0.
QList<qint64> components(const QString& version);

// Compares part by part, a missing part reading as 0: "1.5.0" is older than "1.10.0", "9.7.1" than
// "9.7.1_1"; a version is never older than itself.
bool isOlder(const QString& version, const QString& than);

// The greatest version of the list; the earlier one wins a tie.
std::optional<QString> newest(const QStringList& versions);

} // namespace Toolchain
