// The USB driver interface: descriptors, URBs and USBD status (all in usb.h).
#pragma once

#include "usb.h"
