// The key payload's list of controls needs LControl complete.

#include "ControlBase/InputPayloads.h"

#include "ControlBase/Control.h"

namespace Orv {

LKeyParam::LKeyParam(const KeyCode& key, int32_t fromHost) : key(key), fromHost(fromHost) {}

LKeyParam::~LKeyParam() = default;

}  // namespace Orv
