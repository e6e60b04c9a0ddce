#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The POSIX shell scripts behind the install and start jobs. The texts are shown to the user as they
// run, so they are built exactly and kept readable; nothing here runs them.
namespace Toolchain {

// A Homebrew formula name as the catalogue uses them: lower-case letters and digits, then also
// ".", "_", "+", "@" and "-". Nothing else may reach a script, so a name can never carry shell syntax.
bool isFormulaName(const QString& formula);

// Installs the formulae in one `brew install`, links a docker plugin into the user's plugin folder,
// and starts the services the runtime formulae and Colima need. Stops at the first failing step.
// A list holding anything that is not a formula name gives a script that installs nothing and fails.
QString installScript(const QStringList& formulae);

// Updates the formulae in one `brew upgrade`. An empty list, or one holding anything that is not a
// formula name, gives a script that updates nothing and fails: a bare `brew upgrade` would update
// every formula on the machine.
QString upgradeScript(const QStringList& formulae);

// Starts Apple's container system and, when Homebrew has it, the socktainer service; `verb` is the
// `brew services` verb ("start" or "restart").
QString servicesScript(const QString& verb);

// Starts Colima's engine without making it the docker client's current context.
QString engineStartScript(std::optional<int> cpus, std::optional<int> memoryGB);

// Starts Apple container's image builder.
QString builderStartScript(std::optional<int> cpus, std::optional<int> memoryGB);

} // namespace Toolchain
