#pragma once

#include <QList>
#include <QString>

#include <optional>

// The user's choice of look, stored under "appearance" by its raw value. `automatic` is the case whose
// raw value is "auto" (a keyword in C++): the application follows the desktop's colour scheme.
enum class Appearance { automatic, light, dark };

QString rawValue(Appearance appearance);
// The case whose raw value is exactly `raw` (lower case); none for anything else.
std::optional<Appearance> appearanceFromRawValue(const QString& raw);
// A stored preference: an unknown or missing value reads as `automatic`.
Appearance appearanceOrDefault(const QString& raw);
const QList<Appearance>& allAppearances();
