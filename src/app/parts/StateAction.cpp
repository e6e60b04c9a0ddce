#include "app/parts/StateAction.h"

#include "store/AppStore.h"

namespace StateAction {

QString title(const QString& state)
{
    if (state == u"paused")
        return QStringLiteral("Resume");
    if (state == u"running")
        return QStringLiteral("Stop");
    return QStringLiteral("Start");
}

void perform(AppStore& store, const Container& container)
{
    if (container.state == u"paused")
        store.unpause(container);
    else if (container.state == u"running")
        store.stop(container);
    else
        store.start(container);
}

} // namespace StateAction
