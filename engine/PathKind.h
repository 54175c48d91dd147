// The path kind both programs ask of the file system before they touch a path.
#pragma once

#include <string>

namespace tabrend {

enum PathKindValue : int { kPathMissing = 0, kPathFolder = 1, kPathFile = 2 };

// 0 when the path does not exist, is hidden, or cannot be examined (an empty path, a
// permission error); 1 for a folder; 2 for an ordinary file. "*" and "?" are ordinary
// characters of a name. Never throws.
// Hidden entries (a name starting with ".") count as missing, as the listing that decides
// does not show them; "." and ".." themselves are folders.
int GetPathKind(const std::string& path);

// True when an ordinary file stands at path, hidden or not. For the tests that protect an
// existing file: a hidden output file must not look absent and be written over.
bool FileExists(const std::string& path);
// The same for a folder.
bool FolderExists(const std::string& path);

}  // namespace tabrend
