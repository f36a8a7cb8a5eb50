#pragma once
// What the root window hands to controls with pointer and key input. Pointer coordinates are the
// receiving control's local pixels; buttons are 1 left, 2 middle, 4 right; modifiers 1 Ctrl,
// 8 Shift, 0x40 Alt. Moves, presses and wheel steps come at a high rate: their payloads live in
// pools of their own.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "System/KeyCode.h"
#include "Utilities/Storage/PooledPayload.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace Orv {

class LControl;

class LPointParam : public virtual LRefCountedObject
{
public:
    LPointParam(int32_t x, int32_t y) : x(x), y(y) {}

    int32_t x;
    int32_t y;
};

class LPointWithModifiersParam : public LPointParam,
                                 public PooledPayload<LPointWithModifiersParam, 32>
{
public:
    using PooledPayload<LPointWithModifiersParam, 32>::operator new;
    using PooledPayload<LPointWithModifiersParam, 32>::operator delete;
    using PooledPayload<LPointWithModifiersParam, 32>::Pool;

    LPointWithModifiersParam(int32_t x, int32_t y, int32_t modifiers, int32_t pointerIndex)
        : LPointParam(x, y), modifiers(modifiers), pointerIndex(pointerIndex)
    {
    }

    int32_t modifiers;
    int32_t pointerIndex;
};

class LMouseButtonParam : public LPointWithModifiersParam,
                          public PooledPayload<LMouseButtonParam, 32>
{
public:
    using PooledPayload<LMouseButtonParam, 32>::operator new;
    using PooledPayload<LMouseButtonParam, 32>::operator delete;
    using PooledPayload<LMouseButtonParam, 32>::Pool;

    LMouseButtonParam(int32_t button, int32_t x, int32_t y, int32_t modifiers, int32_t doubleClick,
                      int32_t buttonsDown, int32_t pointerIndex)
        : LPointWithModifiersParam(x, y, modifiers, pointerIndex),
          button(button),
          doubleClick(doubleClick),
          buttonsDown(buttonsDown)
    {
    }

    int32_t button;
    int32_t doubleClick;  // a double-click press, or the release of one
    int32_t buttonsDown;  // mask of the buttons held
};

// Wheel codes: 0 vertical negative, 1 vertical positive, 2 horizontal negative, 3 horizontal
// positive. The point is in window coordinates; the pointer index is 0.
class LMouseWheelParam : public LPointWithModifiersParam, public PooledPayload<LMouseWheelParam, 4>
{
public:
    using PooledPayload<LMouseWheelParam, 4>::operator new;
    using PooledPayload<LMouseWheelParam, 4>::operator delete;
    using PooledPayload<LMouseWheelParam, 4>::Pool;

    LMouseWheelParam(int32_t x, int32_t y, int32_t modifiers, int32_t wheelCode)
        : LPointWithModifiersParam(x, y, modifiers, 0), wheelCode(wheelCode)
    {
    }

    int32_t wheelCode;
};

// Built and destroyed out of line, where LControl is complete: the pooled payloads above are read
// by code that knows no control.
class LKeyParam : public virtual LRefCountedObject
{
public:
    LKeyParam(const KeyCode& key, int32_t fromHost);
    ~LKeyParam() override;

    KeyCode key;
    // 1 for keys from the host window and keys re-sent to hot-key handling; 0 for the Tab that
    // focus movement makes up.
    int32_t fromHost;
    // The controls the key has passed through, so that focus movement never loops.
    RCPtrArray<LControl> visited;
};

}  // namespace Orv
