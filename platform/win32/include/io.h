#pragma once
// The C run-time's low-level file functions as the panel calls them: descriptors, wide paths,
// binary data. Paths are read as win32/HostPath.h says. Failures return -1 and set errno.
//
// Every file is binary here: _O_TEXT is accepted and changes nothing. Share modes are accepted and
// not enforced (the panel only ever asks for _SH_DENYNO).

#include <cstdint>

#include "win32/Types.h"

inline constexpr int _O_RDONLY = 0x0000;
inline constexpr int _O_WRONLY = 0x0001;
inline constexpr int _O_RDWR = 0x0002;
inline constexpr int _O_APPEND = 0x0008;
inline constexpr int _O_CREAT = 0x0100;
inline constexpr int _O_TRUNC = 0x0200;
inline constexpr int _O_EXCL = 0x0400;
inline constexpr int _O_TEXT = 0x4000;
inline constexpr int _O_BINARY = 0x8000;

inline constexpr int _SH_DENYRW = 0x10;
inline constexpr int _SH_DENYWR = 0x20;
inline constexpr int _SH_DENYRD = 0x30;
inline constexpr int _SH_DENYNO = 0x40;

// Permission of a created file: without _S_IWRITE it is read-only.
inline constexpr int _S_IREAD = 0x0100;
inline constexpr int _S_IWRITE = 0x0080;

inline constexpr unsigned short _S_IFMT = 0xF000;
inline constexpr unsigned short _S_IFDIR = 0x4000;
inline constexpr unsigned short _S_IFREG = 0x8000;

// The part of the run-time's status record that the panel reads. The size is 32 bits, as on the
// panel's platform: a larger file fails with EOVERFLOW.
struct _stat
{
    unsigned short st_mode;
    short st_nlink;
    int32_t st_size;
};

int _wsopen(const WCHAR* path, int openFlags, int shareFlags, int permission = 0);
int _close(int fd);
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
// The new position from the start, or -1; a position beyond 32 bits fails with EINVAL.
int32_t _lseek(int fd, int32_t offset, int origin);
int _fstat(int fd, struct _stat* status);
int _stat(const char* utf8Path, struct _stat* status);
int _wunlink(const WCHAR* path);
// Mode 0 tests existence, 2 write, 4 read, 6 both.
int _waccess(const WCHAR* path, int mode);
