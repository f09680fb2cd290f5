// The task manager in the main program: the scheduler's check with its
// countdown window, and the run of a task driven by a timer.
#pragma once

namespace qb {

// The scheduler's check (SemaFore 206, every 15 seconds from the main frame):
// when a task is due, the countdown window; 1 when it was shown.
int schedulerTick();

// True while the program drives a task run, until it has put the active
// database back after the run's end.
bool taskDriverBusy();

} // namespace qb
