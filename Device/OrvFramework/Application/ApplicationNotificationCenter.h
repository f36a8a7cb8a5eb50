#pragma once
// The notification center named "application": hot keys, the exit request and the device
// engine's notifications travel through it. Found or created by the center manager; null when
// the manager is gone, so callers test it.

#include "Notification/NotificationCenter.h"

Orv::RCPtr<Orv::LNotificationCenter> GetApplicationNotificationCenter();
