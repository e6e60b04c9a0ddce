#pragma once

#include "toolchain/Tool.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// What is installed and what Homebrew offers. Every call blocks until its children have ended, with
// no time limit: run them on a background pool only. The overloads taking `brewPresent` let callers
// (and tests) decide whether Homebrew counts as installed; the others look at its usual places.
namespace Toolchain {

// Every catalogue row, in order, with `installed` and `brewManaged` filled and `latest` absent.
QList<Tool> survey();
QList<Tool> survey(bool brewPresent);

// Formula -> the newest version Homebrew offers; empty without Homebrew.
QMap<QString, QString> brewLatest();
QMap<QString, QString> brewLatest(bool brewPresent);

// Refreshes Homebrew's package index; absent on success, else the problem to show.
std::optional<QString> refreshIndex();
std::optional<QString> refreshIndex(bool brewPresent);

// `brew list --formula --versions`: formula -> the newest version on its line.
QMap<QString, QString> parseBrewList(const QString& text);

// `brew info --json=v2`: formula -> its stable version, with "_<revision>" from revision 1 on.
QMap<QString, QString> parseBrewInfo(const QString& text);

} // namespace Toolchain
