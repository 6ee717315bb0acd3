// probe.h - the connectivity probe that gates capture and downloading.
#pragma once

// Sends one test request; 1 when any answer came back.
int probe_connectivity(void);
