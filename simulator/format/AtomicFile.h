// Replacing a file's whole content so that readers see the old or the new
// text, never a part.
#pragma once

#include <string>
#include <string_view>

namespace QueltoSim {

// Writes `text` to a temporary file of a unique name in the target's folder,
// then renames it over `path`. Writers racing on one path each succeed (the
// last rename wins) and a failed write leaves an existing file as it was.
// A symbolic link at `path` is followed: the file it names is replaced.
// Throws IOException, whose message starts with "Could not write <what>
// '<path>'", when the file cannot be written or when `path` exists and is
// not a regular file (a directory, FIFO, device or socket is left alone).
void WriteFileAtomically(const std::string& path, std::string_view text, const std::string& what);

}  // namespace QueltoSim
