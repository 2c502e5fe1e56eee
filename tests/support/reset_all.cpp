// Resets the process-wide state of every subsystem between tests.
#include "frame/library_state.h"
#include "support/test_support.h"

namespace kztest {

void ResetAllState() { kz::ResetLibraryState(); }

}  // namespace kztest
