#pragma once

#include "engine/Container.h"

class AppStore;
class QDialog;
class QWidget;

// The sheets a card or its menu opens for one container, over the window of `over`, each with its own
// copy of the container and the runtime it runs on (its own, else the one shown now).
namespace ContainerSheets {

QDialog* logs(QWidget* over, const AppStore& store, const Container& c);
QDialog* exec(QWidget* over, const AppStore& store, const Container& c);
// Inspect output is the same whatever the runtime, so it is never shown as the Apple runtime's.
QDialog* inspect(QWidget* over, const AppStore& store, const Container& c);

} // namespace ContainerSheets
