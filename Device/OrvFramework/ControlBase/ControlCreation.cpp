// Creation from a skin: the children a descriptor lists, the control's own initialisation and
// its create parameters.

#include <exception>
#include <ostream>

#include "Application/ApplicationNotificationCenter.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/StringTable.h"
#include "ObjectBase/Exception.h"
#include "System/DebugOutput.h"
#include "Utilities/Storage/WideChar.h"

namespace Orv {

namespace {

// A create parameter, when the list has it.
bool ReadParameter(const RCPtr<LStringTable>& parameters, const char16_t* id, WideString& text)
{
    return parameters && parameters->GetString(id, text);
}

// The skin's boolean rule for create parameters: true only for "true", ignoring case and the
// blanks around it.
bool IsTrueText(const WideString& text)
{
    return text.Trim().ToLower() == u"true";
}

void ReportFailedChild(const LControl& parent, const LControlDescriptor& child, const char* why)
{
    *GetDebugLogTarget().narrowOutput << "Control \"" << parent.GetName().ToNarrow().GetText()
                                      << "\": sub-control \"" << child.name.ToNarrow().GetText()
                                      << "\" of class \"" << child.className.ToNarrow().GetText()
                                      << "\" was not created: " << why << '\n'
                                      << std::flush;
}

}  // namespace

ORVRESULT LControl::CreateChildren(const RCPtr<LControlDescriptor>& from)
{
    children.Clear();
    if (!from) {
        return S_OK;
    }
    LFrameworkApp* application = GetFrameworkApp();
    const RCPtr<LControlFactory> factory =
        application != nullptr ? application->GetControlFactory() : RCPtr<LControlFactory>();
    const RCPtr<LControl> self(this);
    const RCPtrArray<LControlDescriptor>& subControls = from->subControls;
    for (uint32_t index = 0; index < subControls.GetCount(); ++index) {
        const RCPtr<LControlDescriptor> sub = subControls.GetData()[index];
        if (!sub) {
            continue;
        }
        WideString deferred;
        if (ReadParameter(sub->createParams, u"DEFER_CREATE", deferred) && IsTrueText(deferred)) {
            continue;
        }
        if (!factory) {
            ReportFailedChild(*this, *sub, "the application has no control factory");
            continue;
        }
        // One sub-control that cannot be built costs only itself: its siblings are still made,
        // and what it left in the child list goes again.
        const uint32_t countBefore = children.GetCount();
        RCPtr<LControl> child;
        try {
            child = factory->CreateControl(sub, self);
            if (!child) {
                ReportFailedChild(*this, *sub, "its create function made nothing");
            }
        } catch (const ExceptionBase& failure) {
            ReportFailedChild(*this, *sub, failure.what());
        }
        if (child && child->GetParent().Get() != this) {
            ReportFailedChild(*this, *sub, "a sibling has its name");
        }
        if (!child) {
            while (children.GetCount() > countBefore) {
                const RCPtr<LControl> partial =
                    children.GetAt(children.GetCount() - 1, ChildControlList::kInsertionOrder);
                children.Remove(partial);
            }
        }
    }
    // The children were placed one by one against siblings made before them; now that all are
    // here the control's limits (its children's box) can be applied too.
    UpdateLayout();
    return S_OK;
}

ORVRESULT LControl::Initialize()
{
    notificationCenter = GetApplicationNotificationCenter();
    handler = RCPtr<LNotificationHandler<LControl>>(new LNotificationHandler<LControl>(this));
    ReadCreateParams();
    const RCPtr<LStringTable>& table = GetStringTable();
    if (!table) {
        return S_OK;
    }
    table->GetString(u"TOOLTIP", toolTipText);
    localHotKeys.LoadFromStringTable(table, WideString(u"LHK"));
    if (parent && !localHotKeys.IsEmpty()) {
        // Both ways a sibling's key can arrive: sent by the parent, or handed over directly.
        handler->AddHandler(&LControl::OnSiblingKey, parent, u"NID_SIBLING_KEY");
        handler->AddDirectHandler(&LControl::OnSiblingKey, u"NID_SIBLING_KEY");
    }
    return S_OK;
}

ORVRESULT LControl::ReadCreateParams()
{
    const RCPtr<LStringTable> parameters = descriptor ? descriptor->createParams : nullptr;
    WideString value;
    if (ReadParameter(parameters, u"INITIAL_VALUE", value)) {
        SetValue(_wtof(value.GetText()));
    }
    if (ReadParameter(parameters, u"NOT_FOCUSABLE", value)) {
        SetNotFocusable(IsTrueText(value));
    } else {
        SetNotFocusable(layout && layout->tabStop < 0);
    }
    if (ReadParameter(parameters, u"USE_PARENT_TOOLTIP", value)) {
        useParentToolTip = IsTrueText(value);
    }
    if (ReadParameter(parameters, u"WANTS_TAB", value)) {
        wantsTab = IsTrueText(value);
    }
    return S_OK;
}

ORVRESULT LControl::AttachChild(const RCPtr<LControl>& child,
                                const RCPtr<LControlDescriptor>& childDescriptor)
{
    if (!child || !childDescriptor) {
        return E_FAIL;
    }
    const ORVRESULT joined = child->SetParent(RCPtr<LControl>(this));
    if (joined < 0) {
        return joined;
    }
    if (child->GetParent().Get() != this) {
        return E_FAIL;
    }
    return child->ApplyDescriptor(childDescriptor);
}

ORVRESULT LControl::OnCreated()
{
    return S_OK;
}

}  // namespace Orv
