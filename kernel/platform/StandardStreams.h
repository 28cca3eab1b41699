// The standard streams of a process whose standard output carries frames.
#pragma once

#include <cstdio>

// The runtime's translation mode for binary data.
constexpr int O_BINARY_MODE = 0x8000;

// Sets the translation mode of an open descriptor, as the runtime's
// _setmode: returns the mode it had, or -1 when the descriptor is not open.
// POSIX streams carry bytes unchanged already, so there only the descriptor
// is checked.
int SetStreamMode(int fd, int nMode);

// Moves the frame channel off the standard output: the pipe that fd 1
// holds gets a private descriptor of its own (not inherited by programs the
// host starts), and fd 1 and fd 2 then point at the null device. Libraries
// loaded later (PKCS#11 drivers, NSS, p11-kit) may print, and a byte on the
// browser's pipe that is not part of a frame would corrupt every frame after
// it. Call it before anything else is loaded. Returns the stream to write
// frames to, or null when standard output is not open (nothing changes
// then, so the frame layer finds it closed).
FILE* TakeStandardOutputForFrames();

// Makes a write to a pipe whose reader has gone fail as a write error
// instead of ending the process (POSIX raises SIGPIPE; Windows already
// fails the write).
void LetWritesToAClosedPipeFail();
