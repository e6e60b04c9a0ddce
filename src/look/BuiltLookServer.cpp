// Linked into the tests and benchmarks alone, which run from elsewhere in the build tree than the
// application: their looks at folders are made by the look server this build made. The application
// itself takes only the one beside it.
#include "platform/KeeperProgram.h"

namespace {

[[maybe_unused]] const bool named = [] {
    Platform::setBuiltLookServer(VOSKEL_LOOK_BUILT);
    return true;
}();

} // namespace
