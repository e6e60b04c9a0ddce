#pragma once

#include "engine/Container.h"

class AppStore;

// The one action a container's state calls for, wherever a single button stands for it (a card's
// first button, a tray row): Resume when paused, Stop when running, Start otherwise.
namespace StateAction {

// The button's word for a state; the comparison is exact.
QString title(const QString& state);
// Carries that action out on `container` as given.
void perform(AppStore& store, const Container& container);

} // namespace StateAction
