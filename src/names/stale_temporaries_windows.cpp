#include "names/stale_temporaries.h"

// Every write goes through the one name `<file>.tmp` and the next write replaces what a
// killed program left there, so at most one stale file can exist.
void remove_stale_temporaries(const std::filesystem::path&) {}
