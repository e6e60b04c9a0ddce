// Linked into the tests and benchmarks alone, which run from elsewhere in the build tree than the
// application: they start their children under the keeper this build made. The application itself
// takes only the keeper beside it.
#include "platform/KeptChild.h"

namespace {

[[maybe_unused]] const bool named = [] {
    Platform::setBuiltKeeper(VOSKEL_KEEPER_BUILT);
    return true;
}();

} // namespace
