#pragma once
// Path helpers beside File: directory tests and creation, file existence, the long form of a path,
// listing the plain files of a directory, and a file-name sanitiser. Paths are read as OrvFile.h
// says. They report by result and never throw, except on a failed allocation.

#include "ObjectBase/OrvResult.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// True for an existing directory; a final "\" is allowed ("C:\" is the drive's root).
bool DirectoryExists(const WideString& path);
// 1 when the path already is a directory, 0 when it was created (with every missing parent),
// E_FAIL when it is a file or cannot be created.
ORVRESULT EnsureDirectory(const WideString& path);
// Creates every missing directory of the path ("\" or "/" separate); true when the path exists
// afterwards. A null path is false.
bool CreateDirectoryPath(const char16_t* path);
// True when the path exists and is not a directory.
bool FileExists(const WideString& path);
// The long form of the path; empty when it does not exist or needs 260 characters or more.
WideString GetLongPath(const WideString& path);
// Replaces out with directory + "\" + name of every plain file matching the pattern ("*" and "?").
// The number of files; E_NOTIMPL when the directory does not exist (not 0: a caller tests for a
// failure before it uses the result as a count, out is empty then); E_FAIL when the listing broke
// off.
ORVRESULT ListFiles(const WideString& directory, const WideString& pattern, Array<WideString>& out);
// The name with each of \ / : * ? " < > | & ; , ^ ( ) replaced by "_": parentheses too, so a
// name made from a device or skin name with them ("Out (1-2)") reads "Out _1-2_".
WideString SanitizeFileName(const WideString& name);

}  // namespace Orv
