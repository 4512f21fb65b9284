// Waiting for what a program does to the file system, without polling: a test gives the
// directory where it shows and a condition, and sleeps until an entry there is created,
// written to or renamed (inotify), then checks again. The directory must exist.
#pragma once

#include <functional>
#include <string>

namespace jumelix::test {

// True once `condition` holds; false when it still does not after `delaiMs`.
bool AttendreDansRepertoire(const std::string& repertoire, const std::function<bool()>& condition,
                            int delaiMs);

}  // namespace jumelix::test
