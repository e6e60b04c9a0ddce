#include "screens/ContainerSheets.h"

#include "sheets/ExecView.h"
#include "sheets/LogsView.h"
#include "sheets/SheetHost.h"
#include "store/AppStore.h"

namespace {

std::optional<Runtime> runtimeOf(const AppStore& store, const Container& c)
{
    return c.runtime ? c.runtime : store.runtime();
}

} // namespace

namespace ContainerSheets {

QDialog* logs(QWidget* over, const AppStore& store, const Container& c)
{
    const std::optional<Runtime> runtime = runtimeOf(store, c);
    return SheetHost::open(over, new LogsView(LogSource::container(c), runtime, store.isApple(runtime)));
}

QDialog* exec(QWidget* over, const AppStore& store, const Container& c)
{
    return SheetHost::open(over, new ExecView(c, runtimeOf(store, c)));
}

QDialog* inspect(QWidget* over, const AppStore& store, const Container& c)
{
    return SheetHost::open(over, new LogsView(LogSource::inspect(c), runtimeOf(store, c), false));
}

} // namespace ContainerSheets
