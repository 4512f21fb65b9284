// The interactive start of the program: creates the application and its windows, reads the
// command line and the list file into the main window, and runs the event loop until the
// main window closes. Implemented by the window layer; main calls it only when the program
// was built with its windows and /S was not given.
#pragma once

namespace jumelix {

// Returns the process exit status.
int LancerInterface(int argc, char** argv);

}  // namespace jumelix
