#include "ControlBase/DocumentBytes.h"

#include <new>

#include "System/ResourceModule.h"
#include "Utilities/Storage/OrvFile.h"

namespace Orv {

namespace {

const char16_t kDocumentResourceType[] = u"ORVXML";

DocumentRead ReadResource(const WideString& path, std::vector<uint8_t>& document)
{
    const HMODULE module = GetResourceModule();
    HRSRC found = FindResourceW(module, ResourceNameOf(path), kDocumentResourceType);
    if (found == nullptr) {
        return DocumentRead::Missing;
    }
    const DWORD size = SizeofResource(module, found);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
    if (bytes == nullptr) {
        return DocumentRead::Missing;
    }
    document.assign(bytes, bytes + size);
    return DocumentRead::Done;
}

DocumentRead ReadFile(const WideString& path, std::vector<uint8_t>& document)
{
    try {
        File file(path, WideString(), FileOpen::kRead);
        if (!file.IsOpen()) {
            return DocumentRead::Missing;
        }
        document.resize(static_cast<size_t>(file.GetLength()));
        size_t done = 0;
        while (done < document.size()) {
            const int32_t read =
                file.Read(document.data() + done, static_cast<int32_t>(document.size() - done), -1);
            if (read <= 0) {
                break;
            }
            done += static_cast<size_t>(read);
        }
        document.resize(done);
        return DocumentRead::Done;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return DocumentRead::Missing;
    }
}

}  // namespace

DocumentRead ReadDocumentBytes(const WideString& path, std::vector<uint8_t>& document)
{
    try {
        return IsResourceName(path) ? ReadResource(path, document) : ReadFile(path, document);
    } catch (const std::bad_alloc&) {
        return DocumentRead::OutOfMemory;
    }
}

}  // namespace Orv
