#include "ControlBase/MenuTree.h"

#include <algorithm>

#include "ControlBase/SkinAttributes.h"

namespace Orv {

namespace {

bool EndsWithDot(const WideString& text)
{
    const int32_t length = text.GetLength();
    return length > 0 && text.GetText()[length - 1] == u'.';
}

bool StartsWithDigit(const WideString& text)
{
    return text.GetText()[0] >= u'0' && text.GetText()[0] <= u'9';
}

// The parts of an id between its dots, empty parts kept.
std::vector<WideString> SplitAtDots(const WideString& id)
{
    std::vector<WideString> parts;
    const char16_t* text = id.GetText();
    const int32_t length = id.GetLength();
    int32_t start = 0;
    for (int32_t at = 0; at <= length; ++at) {
        if (at == length || text[at] == u'.') {
            parts.push_back(id.Mid(start, at - start));
            start = at + 1;
        }
    }
    return parts;
}

void AppendItem(LMenuDescriptor& menu, const RCPtr<LMenuItemDescriptor>& item,
                const WideString& statusText)
{
    if (!statusText.IsEmpty()) {
        item->statusText = statusText;
    }
    menu.InsertItem(menu.GetItems().GetCount(), item);
}

}  // namespace

RCPtr<LMenuDescriptor> BuildMenuTree(const Array<Pair<WideString, WideString>>& pairs)
{
    MenuLevelEntries top;
    MenuLevels levels;
    for (uint32_t index = 0; index < pairs.GetCount(); ++index) {
        const WideString& id = pairs.GetData()[index].first;
        const WideString& text = pairs.GetData()[index].second;
        const std::vector<WideString> parts = SplitAtDots(id);
        if (parts.size() < 2) {
            continue;
        }
        WideString parent;
        int32_t position = -1;
        if (!parts[0].IsEmpty()) {
            if (StartsWithDigit(parts[0])) {
                position = ParseInteger(parts[0]);
            } else {
                parent = parts[0];
                position = ParseInteger(parts[1]);
            }
        }
        const size_t keyPart = parent.IsEmpty() ? 1 : 2;
        WideString key = keyPart < parts.size() ? parts[keyPart] : WideString();
        if (EndsWithDot(id)) {
            key.AppendChar(u'.');
        }
        MenuLevelEntries& level = parent.IsEmpty() ? top : levels[parent];
        // Only the next free position: out of order, repeated and negative indexes drop out.
        if (position >= 0 && static_cast<size_t>(position) == level.size()) {
            level.emplace_back(key, text);
        }
    }
    return BuildMenuLevel(top, levels, RCPtr<LMenuDescriptor>());
}

RCPtr<LMenuDescriptor> BuildMenuLevel(const MenuLevelEntries& entries, const MenuLevels& levels,
                                      RCPtr<LMenuDescriptor> menu, std::vector<WideString>* path)
{
    std::vector<WideString> outermost;
    if (path == nullptr) {
        path = &outermost;
    }
    if (menu) {
        menu->Clear();
    } else {
        menu = LMenuDescriptor::Create();
    }
    for (const auto& [key, text] : entries) {
        WideString label = text;
        WideString statusText;
        const int32_t bar = text.Find(u"|");
        if (bar >= 0) {
            label = text.Left(bar);
            statusText = text.Mid(bar + 1);
        }
        if (EndsWithDot(key)) {
            const WideString name = key.TrimRight(u".");
            const auto level = levels.find(name);
            // A submenu inside itself would never end; one past the depth limit is not built.
            if (level == levels.end() ||
                std::find(path->begin(), path->end(), name) != path->end() ||
                path->size() >= static_cast<size_t>(kMaxMenuDepth)) {
                continue;
            }
            RCPtr<LMenuItemDescriptor> header =
                LMenuItemDescriptor::Create(label, WideString(), 1, 0);
            // Filled before it is added: filling clears the item, which would drop its parent.
            path->push_back(name);
            BuildMenuLevel(level->second, levels, header, path);
            path->pop_back();
            AppendItem(*menu, header, statusText);
        } else if (key == u"-") {
            menu->InsertItem(menu->GetItems().GetCount(), LMenuItemDescriptor::CreateSeparator());
        } else {
            AppendItem(*menu, LMenuItemDescriptor::Create(label, key, 1, 0), statusText);
        }
    }
    return menu;
}

}  // namespace Orv
