#pragma once
// File: a binary file on a run-time file descriptor. Copies share the descriptor (and its
// position); only the last holder to close really closes it, and with kDeleteOnClose deletes the
// file then. Used by one thread at a time.
//
// Paths are Windows paths with "\" as separator. On this machine the platform layer also takes
// "/", and places a drive-rooted path ("C:\...") under the machine root folder $QUORVEL_ROOT, in a
// folder named by the drive letter ("$QUORVEL_ROOT/C/..."); other paths are used as they are.
//
// Read, Write and GetLength throw Exception<std::runtime_error> when the run-time fails; Open
// reports failure as E_FAIL. Calls on a closed file are refused (they throw) rather than reaching
// the run-time with no descriptor.

#include <cstdint>

#include "ObjectBase/Holder.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// FileOpenFlags
namespace FileOpen {
inline constexpr int32_t kRead = 0x10000;  // what readers pass; read-only is the default anyway
inline constexpr int32_t kReadWrite = 0x20000;
inline constexpr int32_t kExclusive = 0x40000;  // with kCreate: fail when the file exists
inline constexpr int32_t kCreate = 0x80000;
inline constexpr int32_t kDeleteOnClose = 0x100000;
}  // namespace FileOpen

class File
{
public:
    // A closed file, then Open(directory, name, flags).
    File(const WideString& directory, const WideString& name, int32_t flags);
    File(const File&) = default;
    // Closes this file first (as its last holder would), then shares the other's descriptor.
    File& operator=(const File& other);
    virtual ~File();

    // With a name: directory + "\" + name; with an empty name: the directory is the whole path
    // (an empty one throws "invalid pathname"). 1 when already open (nothing changes), 0 when
    // opened, E_FAIL when the run-time refused.
    virtual ORVRESULT Open(const WideString& directory, const WideString& name, int32_t flags);
    // Closes the descriptor when no copy holds it any more. Always 0.
    virtual ORVRESULT Close();
    // offset -1: at the current position; else from that offset. The bytes read, 0 at the end.
    virtual int32_t Read(void* buffer, int32_t size, int32_t offset);
    // Needs kReadWrite. The bytes written.
    virtual int32_t Write(const void* buffer, int32_t size, int32_t offset);
    // origin 0 start, 1 current, 2 end; the new position or -1.
    virtual int32_t Seek(int32_t offset, int32_t origin);
    int32_t GetLength() const;

    bool IsOpen() const { return !descriptor.IsNull(); }
    const WideString& GetFileName() const { return fileName; }
    const WideString& GetFullPath() const { return fullPath; }

private:
    int Descriptor() const;
    // Moves to offset unless it is -1; false when the run-time lands elsewhere.
    bool SeekTo(int32_t offset);

    RCPtr<LHolder<int>> descriptor;
    WideString fileName;
    WideString fullPath;
    int32_t flags = 0;
};

}  // namespace Orv
