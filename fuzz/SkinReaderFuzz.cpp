// Skin and string-table documents: any bytes, read as a skin or as a string-table document (the
// first byte chooses the mode and the language), never crash, leak or hang; what was read can be
// used (fonts, top-level look-up, menus built from the tables, the context menus of every
// control's table).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ControlBase/ContextMenuStrings.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/MenuTree.h"

namespace {

const uint32_t kLanguages[] = {0x0009, 0x0409, 0x0407, 0x0C04, 0x7C04, 0x0411, 0, 0xFFFF};

// The loaders read string tables from files: the document goes to a file of this process's own.
std::string DocumentPath()
{
    static const std::string path = "/tmp/orv-fuzz-skin-reader-" + std::to_string(getpid());
    return path;
}

void ReadStrings(Orv::LControlFactory& factory, const uint8_t* data, size_t size, uint32_t language)
{
    const std::string path = DocumentPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);
    const Orv::WideString document(path.c_str());
    if (factory.LoadStringTables(document, document, language) != 0) {
        std::abort();  // only a failed allocation fails, and there is room
    }
    std::remove(path.c_str());
    for (const Orv::RCPtr<Orv::LStringTable>& table :
         {factory.GetApplicationStringTable(), factory.GetFrameworkStringTable()}) {
        if (table) {
            Orv::Array<Orv::Pair<Orv::WideString, Orv::WideString>> pairs;
            table->GetAllStrings(pairs);
            Orv::BuildMenuTree(pairs)->Clone();
        }
    }
    for (const Orv::WideString& id : factory.GetStringTableIds()) {
        if (const Orv::RCPtr<Orv::LStringTable> table = factory.GetStringTable(id)) {
            Orv::RCPtrArray<Orv::LMenuDescriptor> menus;
            const int32_t built = Orv::BuildContextMenusFromStrings(*table, menus);
            if (built < 0 || static_cast<uint32_t>(built) != menus.GetCount()) {
                std::abort();
            }
            for (uint32_t index = 0; index < menus.GetCount(); ++index) {
                if (!menus.GetData()[index]) {
                    std::abort();
                }
                menus.GetData()[index]->Clone();
            }
        }
    }
}

void ReadSkin(Orv::LControlFactory& factory, const uint8_t* data, size_t size)
{
    if (size == 0) {
        return;  // a length of 0 asks the reader to find the end itself
    }
    const Orv::ORVRESULT parsed = factory.ParseXml(reinterpret_cast<const char*>(data), size);
    if (parsed != 0 && parsed != E_FAIL) {
        std::abort();
    }
    for (int32_t skin = 0; skin < static_cast<int32_t>(factory.GetSkins().GetCount()) + 1; ++skin) {
        factory.currentSkinIndex = skin;
        Orv::WideString name;
        float fontSize = 0;
        int32_t style = 0;
        factory.GetSkinFont(name, fontSize, style);
        factory.FindSubControlDescriptor(u"mainControl");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0];
    Orv::RCPtr<Orv::LControlFactory> factory(new Orv::LControlFactory(u"Quorvel"));
    if ((mode & 1) != 0) {
        ReadStrings(*factory, data + 1, size - 1, kLanguages[(mode >> 1) & 7]);
    } else {
        ReadSkin(*factory, data + 1, size - 1);
    }
    return 0;
}
