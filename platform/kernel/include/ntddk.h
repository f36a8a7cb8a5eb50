// The kernel services a driver calls, beyond the WDM set.
#pragma once

#include "wdm.h"
