#pragma once
// Standard streams that carry bytes as written.

namespace velmora {

// Standard input, output and error pass "\n" through as it is: Windows' C runtime otherwise
// writes it as CR LF and reads CR LF as "\n", and what a program prints is read back byte for
// byte by scripts and tests. Nothing to do on POSIX. Called before anything is read or written.
void UseBinaryStandardStreams();

}  // namespace velmora
