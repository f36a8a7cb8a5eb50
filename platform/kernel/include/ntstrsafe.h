// Bounded string formatting for drivers.
#pragma once

#include "wdm.h"
