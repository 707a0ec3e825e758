#pragma once

namespace qarel::pipe {

// The first SIGINT or SIGTERM ends the input where it stands: the watched input descriptor
// is pointed at /dev/null, so the blocked or next read sees the end of input, and the run
// finishes as at the end of its input. Interrupted system calls restart, so writes in
// progress complete. A second signal ends the process at once.
void install_interrupt_handlers();

// The descriptor the first signal ends, read by the calling thread.
void watch_input_descriptor(int descriptor);

// The signal that ended the input, 0 while none has.
int interrupt_signal();

}  // namespace qarel::pipe
