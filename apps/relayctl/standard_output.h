#pragma once

// A watch writes only when a relay changes; these let it end as soon as nobody reads
// its output (`relayctl watch | head -3`), rather than hold the port for ever.
// From now on a write to a pipe whose reader has gone fails instead of ending relayctl.
void ignore_broken_pipe();
// Whether standard output is a pipe or socket whose reader has gone.
bool standard_output_closed();
// Whether standard error is a terminal that a person watches, where a progress line
// may be redrawn in place.
bool standard_error_is_terminal();
