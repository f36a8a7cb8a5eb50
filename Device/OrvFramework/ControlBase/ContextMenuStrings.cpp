// Context menus written in a string table. A table writes one menu as "CONTEXT_MENU.<menu id>"
// entries, or several as groups "CONTEXT_MENU_<name>.<menu id>". A group takes exactly the IDs
// that begin with its name and a dot: "CONTEXT_MENU_A" must not take the entries of
// "CONTEXT_MENU_AB", and an ID that ends at the dot names no entry.

#include "ControlBase/ContextMenuStrings.h"

#include <set>

#include "ControlBase/MenuTree.h"

namespace Orv {

namespace {

using StringPairs = Array<Pair<WideString, WideString>>;

// The entries of one group, with the group name and its dot cut off; an ID with nothing after
// the dot names no entry.
StringPairs GroupEntries(const LStringTable& table, const WideString& group)
{
    const WideString prefix = group + u".";
    StringPairs found;
    table.CollectPrefixedStrings(prefix, found);
    StringPairs entries;
    const int32_t cut = prefix.GetLength();
    for (uint32_t index = 0; index < found.GetCount(); ++index) {
        const Pair<WideString, WideString>& pair = found.GetData()[index];
        if (pair.first.GetLength() > cut) {
            entries.AddItem(Pair<WideString, WideString>{pair.first.Mid(cut), pair.second});
        }
    }
    return entries;
}

}  // namespace

int32_t BuildContextMenusFromStrings(const LStringTable& table, RCPtrArray<LMenuDescriptor>& menus)
{
    const uint32_t countBefore = menus.GetCount();
    const WideString base(u"CONTEXT_MENU");
    const StringPairs single = GroupEntries(table, base);
    if (single.GetCount() > 0) {
        menus.AddItem(BuildMenuTree(single));
        return 1;
    }
    StringPairs all;
    table.CollectPrefixedStrings(base, all);
    std::set<WideString> groups;
    for (uint32_t index = 0; index < all.GetCount(); ++index) {
        const WideString& id = all.GetData()[index].first;
        const int32_t dot = id.Find(WideString(u"."));
        groups.insert(dot < 0 ? id : id.Left(dot));
    }
    for (const WideString& group : groups) {
        const StringPairs entries = GroupEntries(table, group);
        if (entries.GetCount() > 0) {
            menus.AddItem(BuildMenuTree(entries));
        }
    }
    return static_cast<int32_t>(menus.GetCount() - countBefore);
}

}  // namespace Orv
