#pragma once

#include <QProcessEnvironment>

// The desktop session's message bus, as this process leaves it. Where the session has none (no
// DBUS_SESSION_BUS_ADDRESS), the first use of the bus (the colour-scheme portal, the tray, the
// accessibility bridge, or a child that uses it) would launch one of its own, and with it the services
// it starts on demand: processes that outlive the application. So the process takes an address that no
// bus answers at, and whatever asks for the bus finds none.
namespace Platform::SessionBus {

// The address that stands in for a session without a bus: no transport has that name, so a connection
// fails at once, without looking at any file or starting anything.
inline constexpr char none[] = "disabled:";

// Sets the stand-in where the session gave no bus address (or an empty one) and has no bus of its own
// to be found: none in the runtime folder, and none launched earlier for the X display (found as the
// bus libraries find it, on the display itself, else in the file the launch left). A session with a
// bus is left as it is, and one found is taken. Asks the display for at most two seconds. Before any
// application object exists and before anything asks for the bus.
void keepFromLaunching();

// `environment` as the session gave it, without the stand-in: for a program the user starts through us
// and keeps (a terminal), whose use of the bus is its own.
QProcessEnvironment asTheSessionGaveIt(QProcessEnvironment environment);

} // namespace Platform::SessionBus
