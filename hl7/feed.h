// Inputs that keep a run going: a file followed as it grows, standard input
// read as records arrive, rows polled from a database. A signal asks every
// wait to end, so that a run stops between records.
#pragma once

#include <streambuf>

namespace tarn::hl7 {

// Set from a signal handler (only an atomic store), read by every wait.
void RequestStop(int signal) noexcept;
bool StopRequested() noexcept;
// The signal that asked, 0 for none.
int StopSignal() noexcept;
// Lets SIGTERM and SIGINT ask for a stop instead of ending the process.
void StopOnSignals();

// Waits `seconds`, in short steps; false as soon as a stop is asked for.
bool WaitUnlessStopped(double seconds);

// A stream buffer that knows whether a whole line can be read from it
// without waiting.
class LineFeed : public std::streambuf {
 public:
  virtual bool LineReady() = 0;
};

}  // namespace tarn::hl7
