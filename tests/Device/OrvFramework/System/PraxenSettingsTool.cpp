// A second program on the settings store, for the tests that need two processes:
//   praxen_settings_tool <file> get <node>          prints the node's integer (or -1)
//   praxen_settings_tool <file> set <node> <value>  stores an integer
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "System/LPraxen.h"

int main(int argc, char** argv)
{
    if (argc < 4) {
        return 2;
    }
    const Orv::RCPtr<Orv::LPraxen> store = Orv::LPraxen::Create();
    if (store->Load(Orv::WideString()) != S_OK) {
        return 3;
    }
    int32_t handle = 0;
    store->OpenIniFile(Orv::WideString(argv[1]), Orv::WideString(u"1"), Orv::WideString(u"Quorvel"),
                       &handle);
    if (handle == 0) {
        return 4;
    }
    const Orv::WideString node(argv[3]);
    if (std::strcmp(argv[2], "set") == 0 && argc == 5) {
        return store->SetIniValueInt(handle, node, std::atoi(argv[4])) == 0 ? 0 : 5;
    }
    int32_t value = 0;
    store->GetIniValueInt(handle, node, -1, &value);
    std::printf("%d\n", value);
    return 0;
}
