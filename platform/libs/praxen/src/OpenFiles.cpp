#include "OpenFiles.h"

#include <algorithm>

#include "IniReader.h"
#include "IniWriter.h"
#include "Praxen.h"

namespace Praxen {

OpenFiles& OpenFiles::Instance()
{
    static OpenFiles instance;
    return instance;
}

int OpenFiles::Open(const char* path, const char* version, const char* product, int* handle)
{
    if (handle != nullptr) {
        *handle = 0;
    }
    if (path == nullptr || *path == '\0' || handle == nullptr) {
        return PRAXEN_E_INVALID_ARGUMENT;
    }
    File file{path, version != nullptr ? version : "", product != nullptr ? product : "", {}, {}};
    std::replace(file.path.begin(), file.path.end(), '\\', '/');
    const int result = Load(file);
    if (result < 0) {
        return result;
    }
    const std::lock_guard guard(lock);
    do {
        lastHandle = lastHandle == INT32_MAX ? 1 : lastHandle + 1;
    } while (files.contains(lastHandle));
    files.emplace(lastHandle, std::move(file));
    *handle = lastHandle;
    return PRAXEN_OK;
}

int OpenFiles::Close(int handle, bool writeFirst)
{
    const std::lock_guard guard(lock);
    File* file = Find(handle);
    if (file == nullptr) {
        return PRAXEN_E_BAD_HANDLE;
    }
    const int result = writeFirst ? Store(*file, file->document) : PRAXEN_OK;
    files.erase(handle);
    return result;
}

int OpenFiles::Write(int handle)
{
    const std::lock_guard guard(lock);
    File* file = Find(handle);
    if (file == nullptr) {
        return PRAXEN_E_BAD_HANDLE;
    }
    const int result = Refresh(*file);
    return result < 0 ? result : Store(*file, file->document);
}

int OpenFiles::Read(int handle, const std::function<int(const IniDocument&)>& reader)
{
    const std::lock_guard guard(lock);
    File* file = Find(handle);
    if (file == nullptr) {
        return PRAXEN_E_BAD_HANDLE;
    }
    const int result = Refresh(*file);
    return result < 0 ? result : reader(file->document);
}

int OpenFiles::Change(int handle, const std::function<int(IniDocument&)>& changer)
{
    const std::lock_guard guard(lock);
    File* file = Find(handle);
    if (file == nullptr) {
        return PRAXEN_E_BAD_HANDLE;
    }
    int result = Refresh(*file);
    if (result < 0) {
        return result;
    }
    IniDocument changed = file->document;
    result = changer(changed);
    if (result < 0) {
        return result;
    }
    const int stored = Store(*file, changed);
    return stored < 0 ? stored : result;
}

OpenFiles::File* OpenFiles::Find(int handle)
{
    const auto found = files.find(handle);
    return found != files.end() ? &found->second : nullptr;
}

int OpenFiles::Load(File& file)
{
    FileError error = FileError::Io;
    std::optional<FileContent> content = ReadWholeFile(file.path, error);
    if (!content) {
        return error == FileError::TooLarge ? PRAXEN_E_MALFORMED_FILE : PRAXEN_E_IO;
    }
    IniDocument document;
    if (ParseIni(content->text, document)) {
        return PRAXEN_E_MALFORMED_FILE;
    }
    file.document = std::move(document);
    file.stamp = content->stamp;
    return PRAXEN_OK;
}

int OpenFiles::Refresh(File& file)
{
    return StampOf(file.path) == file.stamp ? PRAXEN_OK : Load(file);
}

int OpenFiles::Store(File& file, const IniDocument& document)
{
    const std::optional<FileStamp> stamp =
        ReplaceFileAtomically(file.path, FormatIni(document, file.version, file.product));
    if (!stamp) {
        return PRAXEN_E_IO;
    }
    file.document = document;
    file.stamp = *stamp;
    return PRAXEN_OK;
}

}  // namespace Praxen
