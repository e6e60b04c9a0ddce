#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace TestSupport {

// What every widget test needs first: the bundled faces and the theme in the light look, not
// following the desktop. Safe to call from every test.
void prepareWidgets();

// Renders the widget `make` builds, once per look (light, then dark), at `width` (0: its size hint)
// into <gallery>/<name>-light.png and -dark.png, for eyes rather than comparison. Returns the files
// written; the look is automatic again afterwards.
QStringList renderToGallery(const QString& name, const std::function<std::unique_ptr<QWidget>()>& make,
                            int width = 0, int height = 0);

// The folder renderToGallery writes into.
QString galleryDir();

// Shows `window`, makes it the active one, puts the focus on `from` (none: nowhere in it) and presses
// Tab `presses` times; the object name of every control reached, in turn ("" for one without a name).
QStringList tabStops(QWidget& window, int presses, QWidget* from = nullptr);

} // namespace TestSupport
