#pragma once

#include "engine/Container.h"

class Token;

// The status colour of a container: the colour of every small dot that stands for one. Paused is the
// accent, running unhealthy or exited with an error is danger, running is success, anything else muted.
const Token& dot(const Container& container);
