#pragma once
// What the file functions of this layer share: host errors and modes in Windows terms.

#include <sys/types.h>

#include "win32/Types.h"

namespace Win32Internal {

// The last error that stands for an errno value of the host's file calls.
void SetLastErrorFromErrno(int error);

// FILE_ATTRIBUTE_DIRECTORY for a directory, FILE_ATTRIBUTE_READONLY without write permission,
// FILE_ATTRIBUTE_NORMAL for a plain file without either.
DWORD AttributesOf(mode_t mode);

}  // namespace Win32Internal
