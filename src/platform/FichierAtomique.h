// Writes a whole file so that no reader ever sees half of it: the content goes to a
// temporary file beside the target, is flushed to disk, then renamed over the target. An
// existing file is replaced only once the new one is complete, and a failure leaves no
// temporary file behind. Any thread; failures come back as errno values.
#pragma once

#include <string>
#include <string_view>

namespace jumelix::platform {

// Writes `contenu` to `chemin` with permissions `mode` (whatever the umask). Returns 0, or
// the errno of the failure (the target is then as it was).
int EcrireFichierAtomique(const std::string& chemin, std::string_view contenu, unsigned mode);

}  // namespace jumelix::platform
