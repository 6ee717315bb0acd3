// probe.h - the connectivity probe that gates capture and downloading.
#pragma once

// probe_connectivity's answer while its probe is still going.
static const int PROBE_IN_FLIGHT = -1;

// Takes the probe one step further without waiting, starting one when none
// is in flight: 1 when the current target answered, 0 when it failed (the
// next probe then tries the next target), PROBE_IN_FLIGHT while neither is
// known yet.  Called once per engine step until it gives 1 or 0.
int probe_connectivity(void);
// Drops a probe in flight and closes its connection (shut-down, or the
// engine found online again by other means).  Nothing when none is.
void probe_abandon(void);
