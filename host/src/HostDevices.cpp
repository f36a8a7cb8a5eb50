#include "HostDevices.h"

#include "InputDeviceModel.h"
#include "MidiPortDeviceModel.h"
#include "device/DeviceParts.h"

namespace Host {
namespace {

std::shared_ptr<DeviceParts> InputParts()
{
    return std::make_shared<InputDeviceParts>(InputDeviceUsbRecord(true, false));
}

std::shared_ptr<DeviceParts> MidiParts()
{
    return std::make_shared<MidiDeviceParts>();
}

}  // namespace

const std::vector<DeviceChoice>& DeviceChoices()
{
    static const std::vector<DeviceChoice> choices = [] {
        std::vector<DeviceChoice> list;
        list.push_back({"product",
                        "the product: two line outputs, USB Audio Class 2; no inputs, no MIDI",
                        UsbSim::ProductVariant{}, nullptr});
        list.push_back({"inputs",
                        "test model with inputs: the product's two line outputs plus two 24-bit "
                        "line inputs",
                        UsbSim::ProductVariant{.audioClass = 2, .inChannels = 2}, &InputParts});
        list.push_back(
            {"midi",
             "test model with MIDI: the product's two line outputs plus four MIDI ports "
             "each way",
             UsbSim::ProductVariant{.audioClass = 1, .midi = true, .midiCables = kMidiModelPorts},
             &MidiParts});
        return list;
    }();
    return choices;
}

const DeviceChoice* FindDevice(const std::string& name)
{
    for (const DeviceChoice& choice : DeviceChoices()) {
        if (name == choice.name) {
            return &choice;
        }
    }
    return nullptr;
}

std::string DeviceNames()
{
    std::string names;
    for (const DeviceChoice& choice : DeviceChoices()) {
        names += (names.empty() ? "" : ", ") + std::string(choice.name);
    }
    return names;
}

}  // namespace Host
