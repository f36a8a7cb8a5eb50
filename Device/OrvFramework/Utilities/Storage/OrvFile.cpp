#include "Utilities/Storage/OrvFile.h"

#include <io.h>

#include "ObjectBase/Exception.h"

namespace Orv {

File::File(const WideString& directory, const WideString& name, int32_t flags)
{
    Open(directory, name, flags);
}

File::~File()
{
    Close();
}

File& File::operator=(const File& other)
{
    if (this != &other) {
        Close();
        descriptor = other.descriptor;
        fileName = other.fileName;
        fullPath = other.fullPath;
        flags = other.flags;
    }
    return *this;
}

ORVRESULT File::Open(const WideString& directory, const WideString& name, int32_t openFlags)
{
    if (IsOpen()) {
        return 1;
    }
    if (!name.IsEmpty()) {
        fileName = name;
        fullPath = directory + u"\\" + name;
    } else if (directory.IsEmpty()) {
        ORV_THROW_DETAIL(RuntimeError, "invalid pathname");
    } else {
        fullPath = directory;
    }
    flags = openFlags;

    int mode = _O_BINARY | ((flags & FileOpen::kReadWrite) ? _O_RDWR : _O_RDONLY);
    if (flags & FileOpen::kCreate) {
        mode |= _O_CREAT;
        if (flags & FileOpen::kExclusive) {
            mode |= _O_EXCL;
        }
    }
    const int fd = _wsopen(fullPath.GetText(), mode, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return E_FAIL;
    }
    descriptor = RCPtr<LHolder<int>>(new LHolder<int>(fd));
    return S_OK;
}

ORVRESULT File::Close()
{
    if (!IsOpen() || descriptor->GetRefCount() != 1) {
        return S_OK;
    }
    _close(descriptor->Get());
    if (flags & FileOpen::kDeleteOnClose) {
        _wunlink(fullPath.GetText());
    }
    descriptor = nullptr;
    return S_OK;
}

int32_t File::Read(void* buffer, int32_t size, int32_t offset)
{
    const int fd = Descriptor();
    if (size < 0 || (buffer == nullptr && size != 0)) {
        ORV_THROW_DETAIL(InvalidArgument, "read buffer");
    }
    if (!SeekTo(offset)) {
        ORV_THROW_DETAIL(RuntimeError, "lseek");
    }
    const int count = _read(fd, buffer, static_cast<unsigned int>(size));
    if (count < 0) {
        ORV_THROW_DETAIL(RuntimeError, "read");
    }
    return count;
}

int32_t File::Write(const void* buffer, int32_t size, int32_t offset)
{
    const int fd = Descriptor();
    if (!(flags & FileOpen::kReadWrite)) {
        ORV_THROW_DETAIL(RuntimeError, "file is read only");
    }
    if (size < 0 || (buffer == nullptr && size != 0)) {
        ORV_THROW_DETAIL(InvalidArgument, "write buffer");
    }
    if (!SeekTo(offset)) {
        ORV_THROW_DETAIL(RuntimeError, "lseek");
    }
    const int count = _write(fd, buffer, static_cast<unsigned int>(size));
    if (count < 0) {
        ORV_THROW_DETAIL(RuntimeError, "write");
    }
    return count;
}

int32_t File::Seek(int32_t offset, int32_t origin)
{
    return IsOpen() ? _lseek(descriptor->Get(), offset, origin) : -1;
}

int32_t File::GetLength() const
{
    struct _stat status
    {
    };
    if (_fstat(Descriptor(), &status) != 0) {
        ORV_THROW_DETAIL(RuntimeError, "fstat");
    }
    return status.st_size;
}

int File::Descriptor() const
{
    if (!IsOpen()) {
        ORV_THROW_DETAIL(RuntimeError, "file is not open");
    }
    return descriptor->Get();
}

bool File::SeekTo(int32_t offset)
{
    return offset == -1 || _lseek(descriptor->Get(), offset, 0) == offset;
}

}  // namespace Orv
