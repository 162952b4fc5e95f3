#pragma once

// Writes a file so that a reader finds the old one or the new one whole, never a half-written one:
// the text goes to a temporary file beside the target, which is flushed, takes the target's
// permissions and is renamed over it; the folder is flushed too, so that the rename survives a
// power loss. Nothing is left behind when a step fails.
//
//   if (const std::string problem = qel::WriteFileAtomically(path, text); !problem.empty()) {
//       report(problem);
//   }

#include <filesystem>
#include <string>
#include <string_view>

namespace qel {

// Empty on success, else why the file was not written (the old one stays as it was).
std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view text);

}  // namespace qel
