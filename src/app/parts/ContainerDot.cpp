#include "app/parts/ContainerDot.h"

#include "app/design/Vosk.h"

const Token& dot(const Container& container)
{
    const bool running = container.state == QLatin1StringView("running");
    if (container.state == QLatin1StringView("paused"))
        return Vosk::ion;
    if (running && container.status.contains(QLatin1StringView("(unhealthy)")))
        return Vosk::danger;
    if (container.isFailed())
        return Vosk::danger;
    if (running)
        return Vosk::success;
    return Vosk::muted;
}
