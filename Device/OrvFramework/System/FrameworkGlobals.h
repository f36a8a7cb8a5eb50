#pragma once
// The framework's process-wide objects, reached directly by the code that uses them.
//
// Each one lives in a function-local static behind its accessor: a global whose constructor or
// destructor needs another one calls its accessor, which builds it first, so that it is destroyed
// after its user. Besides, the globals unit builds all of them before main, after the objects of
// the program's own units (the application object first), in this order: the empty string
// constants, the notification pool and registry lock, the main center's name, the queue lock, the
// active distributors, the payload pools (System/FrameworkPayloadPools.cpp), the debug channel,
// the cursor names, the line break, the blank and the registry value name. At exit they go in the
// reverse order. Every program linked with the globals library builds them, whether or not it
// calls into the globals unit. A global that an object of the program
// uses while it is built (the application object takes the notification center manager, and with
// it the notification locks and lists) is built then instead, and so outlives that object.
//
// Worker threads must have ended before exit: the locks and pools they use are destroyed there.

#include <atomic>
#include <cstdint>
#include <new>

#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// Copies of the default-constructed strings: they share the empty text buffer.
const WideString& EmptyWideString();
const NarrowString& EmptyNarrowString();

// Name of the application's notification center: "application".
const WideString& MainCenterName();

// The names that controls and skins give the application's cursor lookup, in their order.
enum class CursorId : uint32_t
{
    AppStarting,  // "UI_CURSOR_APP_STARTING"
    Arrow,        // "UI_CURSOR_ARROW"
    IBeam,
    Wait,
    Cross,
    UpArrow,
    SizeAll,
    SizeNWSE,
    SizeNESW,
    SizeWE,
    SizeNS,
    Hand,
    Help,
    NoDrop,
    DropMove,
    DropCopy,
    SplitV,
    SplitH,
    Rotate,
    Mag,
    MagPlus,
    MagMinus,
    Standard,  // the cursor of a control that names none: "UI_CURSOR_ARROW" again
    Count
};
inline constexpr uint32_t kCursorNameCount = static_cast<uint32_t>(CursorId::Count);
// The name of that cursor; a value outside the list gives the empty string.
const WideString& GetCursorName(CursorId which);

// Separator of laid-out lines: "\n".
const WideString& LineBreak();
// Separator of the parts of a remaining-time text: " ".
const WideString& Blank();
// Value naming the installed driver package's version: "DisplayVersion".
const WideString& DisplayVersionValueName();

// A pointer that stays null, for resetting by assignment and for empty results. Never destroyed
// (it holds nothing to release), so that it reads null at any time, also during teardown.
template <class T>
const RCPtr<T>& NullRCPtr()
{
    alignas(RCPtr<T>) static unsigned char storage[sizeof(RCPtr<T>)];
    static const RCPtr<T>* const null = new (storage) RCPtr<T>();
    return *null;
}

// Where the globals unit stands; readable at any time, also before and after its objects live.
enum class FrameworkGlobalsStage : int32_t
{
    NotBuilt,  // before static initialisation reached the globals unit
    Built,     // between the end of its initialisation and the start of teardown
    TornDown,  // every global built by the globals unit has been destroyed
};
FrameworkGlobalsStage GetFrameworkGlobalsStage();

namespace Detail {
// Only the globals unit moves the stage on.
void SetFrameworkGlobalsStage(FrameworkGlobalsStage stage);
}  // namespace Detail

}  // namespace Orv
