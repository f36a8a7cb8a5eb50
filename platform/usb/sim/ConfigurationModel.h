#pragma once
// Reads the model of a configuration (interfaces, alternate settings, endpoints and their audio
// formats) from its descriptor bytes, for the simulated device. The bytes may come from a test's
// byte list: every descriptor is bounded by its own length and by wTotalLength.

#include <optional>
#include <span>
#include <string>

#include "SimulatedUsbDevice.h"

namespace UsbSim {

struct ConfigurationFacts
{
    int audioClass = 0;         // from the audio control header's bcdADC; 0 = no audio function
    uint8_t clockSourceId = 0;  // class 2 clock source entity
};

std::optional<ConfigurationModel> ReadConfigurationModel(std::span<const uint8_t> bytes,
                                                         ConfigurationFacts& facts,
                                                         std::string& error);

}  // namespace UsbSim
