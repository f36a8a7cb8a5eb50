#pragma once
// The kernel32 file-system functions the panel calls: directories, attributes, long names and
// file search. Paths are read as win32/HostPath.h says; failures set the last error.
//
// A search lists the entries of one directory whose names match the pattern's last component
// ("*" any run, "?" one character, letters without regard to case; "*.*" is everything). The
// entries "." and ".." are not listed. Names come in the order of their bytes.

#include "win32/LastError.h"
#include "win32/Types.h"

inline constexpr DWORD MAX_PATH = 260;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

struct FILETIME
{
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct WIN32_FIND_DATAW
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

// Creates the last component only: ERROR_ALREADY_EXISTS when it is there, ERROR_PATH_NOT_FOUND
// when its parent is missing.
BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
// Names have one form here: the long form is the path itself, once it is known to exist. The
// length copied, or the size needed (terminator included) when the buffer is too small, or 0.
DWORD WINAPI GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD bufferLength);

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindClose(HANDLE search);
