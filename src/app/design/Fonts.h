#pragma once

#include <QString>
#include <QStringList>

// The application's faces live in its "Fonts" resource folder, bundled by the build.
QString bundledFontsFolder();

// Registers the faces of the "Fonts" resource folder for this process only. Runs once; a missing
// folder or a damaged file is skipped silently and text falls back to the platform's faces.
void registerBundledFonts();

// The file rule: only names whose extension is exactly "ttf" or "ttc" (so not "TTF", not "otf").
bool isBundledFontFile(const QString& fileName);

// Registers every file of `folder` (not its subfolders) that passes the rule; returns the names of
// those that registered, in name order.
QStringList registerFontsIn(const QString& folder);
