// Runs of pauses. After a frame the sender often pauses twice in a row (30 ms
// for a physical address, then the caller's own); if each pause counted from
// when its thread woke, every one would add the system's wake-up latency. A
// pause that follows another of the same run counts from when that one was
// due instead: the run keeps the line quiet for the sum of its pauses and is
// late by one wake-up only. Every frame, sent or not, starts a new run, and
// so does closing, so a run never reaches past one operation. Each thread
// (the host's, a download worker) has its own.
#include "tivlink/connection.h"

static thread_local int64_t run_due;  // when the run's last pause was due; 0: none yet

void tiv_pause_run_end(void) { run_due = 0; }

// A pause never ends early, so the previous one's due time is never later
// than `now`.
int64_t pause_run_start(int64_t now) { return run_due != 0 ? run_due : now; }

void pause_run_note(int64_t due) { run_due = due; }
