#pragma once
// Praxen: the settings library, loaded at run time as "Praxen.dll" (libPraxen.so here).
//
// Settings files are INI text of this form:
//
//   ; <product> settings, version <version>
//   RendererType=1
//   Skins=2
//   @0=first item of the root array
//   [Skins]
//   Current=Dark
//   @0=Dark
//   @1=Light
//
// - A node is a path of names joined by "/". Node "a/b" has its value as key "b" of section [a];
//   a top-level node such as "RendererType" is a key of the root part, before the first section.
// - The keys under node N are the keys of section [N]; its array items are the numbered keys
//   "@0", "@1", ... of the same section, in order and without gaps. The node "" is the root.
// - A name is not empty, does not start with "@", ";", "#" or a space, does not end with a space,
//   and holds no "/", "\", "=", "[", "]" or control character.
// - A value is the text after the first "=" of its line, kept exactly; "\\", "\n" and "\r" stand
//   for a backslash, a line feed and a carriage return. Lines starting with ";" or "#" are
//   comments, blank lines are ignored, a line may end in CR LF.
// - Strings are UTF-8. A file path may use "\" or "/" as separator.
//
// Every change is written through at once, atomically: the new text goes to a temporary file in
// the same folder that then replaces the file, so a reader sees the old file or the new one, never
// a mix. Before every call the file is read again when another process has replaced it since, so
// the process that writes last never drops what another one wrote before. A malformed or
// oversized file is refused as a whole and never overwritten.
//
// Text results use one protocol: the text and its NUL go to the caller's buffer; when the buffer
// is missing or too small the result is PRAXEN_E_BUFFER_TOO_SMALL with *needed set to the size
// (bytes, NUL included) that would do. *needed is set on every text result.

#include <cstdint>

inline constexpr int PRAXEN_OK = 0;
inline constexpr int PRAXEN_DEFAULT_USED = 1;  // the node is absent: the output holds the default
inline constexpr int PRAXEN_E_BAD_HANDLE = -1;
inline constexpr int PRAXEN_E_BUFFER_TOO_SMALL = -2;
inline constexpr int PRAXEN_E_MALFORMED_FILE = -3;
inline constexpr int PRAXEN_E_IO = -4;
inline constexpr int PRAXEN_E_INVALID_ARGUMENT = -5;
inline constexpr int PRAXEN_E_NOT_AN_INTEGER = -6;  // the output holds the default
inline constexpr int PRAXEN_E_NO_SUCH_ITEM = -7;

inline constexpr int64_t kPraxenMaxFileBytes = 16 * 1024 * 1024;
inline constexpr int kPraxenMaxArrayCount = 65536;

#define PRAXEN_EXPORT extern "C" __attribute__((visibility("default")))

// Reads the file (a missing file is an empty one, created by the first change) and sets *handle
// to a new non-zero handle; *handle stays 0 on failure. version and product go into the file's
// first comment line.
PRAXEN_EXPORT int OpenIniFile(const char* path, const char* version, const char* product,
                              int* handle);
// Writes the file again (every change is already on disk; this restores a deleted file).
PRAXEN_EXPORT int WriteIniFile(int handle);
// Forgets the handle; a non-zero flag writes the file once more first.
PRAXEN_EXPORT int CloseIniFile(int handle, int flag);
PRAXEN_EXPORT bool DoesNodeExist(int handle, const char* node);
// *value = the node's integer, or defaultValue (PRAXEN_DEFAULT_USED) when the node is absent.
PRAXEN_EXPORT int GetIniValueInt(int handle, const char* node, int defaultValue, int* value);
PRAXEN_EXPORT int SetIniValueInt(int handle, const char* node, int value);
// The node's text, or defaultValue (PRAXEN_DEFAULT_USED) when the node is absent.
PRAXEN_EXPORT int GetIniValueStr(int handle, const char* node, const char* defaultValue,
                                 char* buffer, int bufferSize, int* needed);
PRAXEN_EXPORT int SetIniValueStr(int handle, const char* node, const char* value);
PRAXEN_EXPORT int GetKeyCount(int handle, const char* node, int* count);
PRAXEN_EXPORT int GetKeyNameAt(int handle, const char* node, int index, char* buffer,
                               int bufferSize, int* needed);
PRAXEN_EXPORT int GetArrayCount(int handle, const char* node, int* count);
// Grows with empty items or drops items from the end; at most kPraxenMaxArrayCount.
PRAXEN_EXPORT int SetArrayCount(int handle, const char* node, int count);
PRAXEN_EXPORT int GetArrayItemAt(int handle, const char* node, int index, char* buffer,
                                 int bufferSize, int* needed);
// Replaces item index; index == count appends one item.
PRAXEN_EXPORT int SetArrayItemAt(int handle, const char* node, int index, const char* item);
// Removes item index; the items after it move down by one.
PRAXEN_EXPORT int RemoveArrayItemAt(int handle, const char* node, int index);
