// The destination root of a pair before its walk: made when missing, and its archive
// folder checked. Each returns the report line of a refusal, or "" (engine/UDelta.cpp).
#pragma once

#include <string>

#include "platform/SystemeFichiers.h"

namespace jumelix {

// Makes the missing destination root `destination`, its last component only (the mount
// point of a disk that is not there is never filled), and opens it into `dst`.
std::string CreerRacineCible(platform::TSystemeFichiers& fs, const std::string& destination,
                             platform::TRepertoire& dst);

// The destination's archive must be a directory of ours: a link would send what a run
// replaces elsewhere, another user's directory would receive our files. Nothing of the
// pair is changed then. An archive that is not there, or not to be looked at (the walk
// then reports the root as unreadable), is no refusal.
std::string RefusArchive(platform::TSystemeFichiers& fs, const platform::TRepertoire& dst,
                         const std::string& destination);

// A source that holds nothing while its destination holds something is far more often a
// disk that was not mounted (an empty mount point) than a wish to empty the destination.
// A source that cannot be read counts as holding something (the walk then reports it); a
// destination counts as holding something when an entry could be read before any failure.
// Each side is read only up to its first entry.
bool SourceVideCibleRemplie(const std::string& source, const std::string& destination);

}  // namespace jumelix
