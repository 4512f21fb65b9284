// The interactive start of the program: creates the application and its windows, reads the
// command line and the list file into the main window, and runs the event loop until the
// main window closes. Implemented by the window layer; main calls it only when the program
// was built with its windows and /S was not given.
#pragma once

#include <string>

namespace jumelix {

// Returns the process exit status. `refus_reglages`, when not empty, is shown at start: the
// settings it names are not used.
int LancerInterface(int argc, char** argv, const std::string& refus_reglages = {});

}  // namespace jumelix
