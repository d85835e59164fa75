// Reading and replacing a file as a whole: readers see either the old file or the whole new
// one, never a part, whatever happens during the write (a crash, a full disk, a power loss).
#pragma once

#include <string>

namespace vantrel {

// Writes text to a fresh file beside target, flushes it to disk and renames it over
// target; a symlink stays a symlink and the file it points to is replaced, with the old
// file's permissions. Temporary files that writes of processes no longer running left
// beside target are removed first. On failure target is untouched, the temporary file is
// removed, one debug-log line "<who> could not <step> for [<target>]: <reason>" says why,
// and the same "could not <step>: <reason>" goes to *why when given.
bool ReplaceFileAtomically(const std::string& target, const std::string& text, const char* who,
                           std::string* why = nullptr);

// Reads the whole file into text; on failure error says "<path>: cannot be read: <reason>".
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

}  // namespace vantrel
