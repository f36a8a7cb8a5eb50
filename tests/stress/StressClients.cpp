#include "StressClients.h"

#include <KsMidiFrames.h>
#include <ksmedia.h>

#include "ks/MidiFilter.h"

namespace Stress {

NTSTATUS WaveClient::Open()
{
    std::u16string link;
    for (const Host::EndpointInfo& e : machine_.Endpoints()) {
        if (e.capture == capture_ && e.maxChannels != 0) {
            link = e.symbolicLink;
        }
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    filter_ =
        Platform::Ks::FilterHandle::Open(machine_.Process(), machine_.Device(), link, &status);
    if (filter_ == nullptr) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    pin_ = Platform::Ks::PinHandle::Open(
        *filter_, 0, Platform::Ks::PcmFormatBytes(2, rate_, 32, true, 24), &status);
    if (pin_ == nullptr) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    return pin_->WalkTo(KSSTATE_RUN);
}

bool WaveClient::Stream()
{
    if (pin_ == nullptr) {
        return true;
    }
    while (pin_->PendingFrames() < 4) {
        const ULONG bytes = rate_ / 100 * 8;
        const NTSTATUS status =
            capture_ ? pin_->Read(bytes) : pin_->Write(std::vector<uint8_t>(bytes, 0x11));
        if (status != STATUS_PENDING && status != STATUS_SUCCESS && NT_SUCCESS(status)) {
            return false;
        }
        if (!NT_SUCCESS(status)) {
            break;
        }
    }
    for (const Platform::Ks::CompletedFrame& frame : pin_->Collect()) {
        if (frame.status == STATUS_PENDING) {
            return false;
        }
        if (frame.status == STATUS_SUCCESS && frame.header.DataUsed != 0) {
            ++moved_;
        }
    }
    return true;
}

void WaveClient::Close()
{
    if (pin_ != nullptr) {
        pin_->WalkTo(KSSTATE_STOP);
        pin_->Close();
        pin_->Collect();
        leftPending_ = pin_->PendingFrames();
    }
    pin_.reset();
    filter_.reset();
}

NTSTATUS MidiClient::Open()
{
    std::u16string link;
    for (const Host::EndpointInfo& e : machine_.Endpoints()) {
        if (e.maxChannels == 0 && e.name == "MIDI 1") {
            link = e.symbolicLink;
        }
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    filter_ =
        Platform::Ks::FilterHandle::Open(machine_.Process(), machine_.Device(), link, &status);
    if (filter_ == nullptr) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    output_ = Platform::Ks::PinHandle::Open(*filter_, kMidiOutPinRaw,
                                            Platform::Ks::MidiFormatBytes(false), &status);
    if (output_ == nullptr) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    input_ = Platform::Ks::PinHandle::Open(*filter_, kMidiPairPinInput,
                                           Platform::Ks::MidiFormatBytes(false), &status);
    if (input_ == nullptr) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    status = output_->WalkTo(KSSTATE_RUN);
    return NT_SUCCESS(status) ? input_->WalkTo(KSSTATE_RUN) : status;
}

bool MidiClient::Sound(Platform::Ks::PinHandle* pin)
{
    for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
        if (frame.status == STATUS_PENDING) {
            return false;
        }
        if (frame.status == STATUS_SUCCESS && frame.header.DataUsed != 0) {
            ++moved_;
        }
    }
    return true;
}

bool MidiClient::Stream()
{
    if (output_ == nullptr || input_ == nullptr) {
        return true;
    }
    const auto now = static_cast<LONGLONG>(Host::HostMachine::NowMs()) * 10000;
    NTSTATUS status = output_->WriteAt(Platform::Ks::MusicRecord(0, {0x90, 0x3C, 0x40}), now);
    bool sound = !(status != STATUS_PENDING && status != STATUS_SUCCESS && NT_SUCCESS(status));
    while (sound && input_->PendingFrames() < 4) {
        status = input_->Read(64);
        sound = !(status != STATUS_PENDING && status != STATUS_SUCCESS && NT_SUCCESS(status));
        if (!NT_SUCCESS(status)) {
            break;
        }
    }
    return Sound(output_.get()) && Sound(input_.get()) && sound;
}

void MidiClient::Close()
{
    for (auto* pin : {&output_, &input_}) {
        if (*pin != nullptr) {
            (*pin)->WalkTo(KSSTATE_STOP);
            (*pin)->Close();
            (*pin)->Collect();
            leftPending_ += (*pin)->PendingFrames();
        }
        pin->reset();
    }
    filter_.reset();
}

NTSTATUS ControlClient::Open()
{
    const std::u16string link = machine_.Device().FindInterface(
        KSCATEGORY_TOPOLOGY, Platform::Ks::GuidText(kControlFilterReference));
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto handle =
        Platform::Ks::FilterHandle::Open(machine_.Process(), machine_.Device(), link, &status);
    if (handle == nullptr) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    control_ = std::make_unique<ControlRequester>(machine_.Process(), std::move(handle));
    client_ = std::make_unique<Host::LowLatencyClient>(*control_);
    std::string error;
    const bool started = client_->Describe(&error) && client_->Configure(rate_, 256, &error) &&
                         client_->Start(&error);
    return started ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

bool ControlClient::Stream()
{
    if (client_ == nullptr) {
        return true;
    }
    client_->Serve();
    // The device's position only moves on while the client runs; 0 is a position it could not
    // read (the device gone).
    const uint64_t position = client_->Position();
    const bool forward = position == 0 || position >= position_;
    position_ = position != 0 ? position : position_;
    return forward;
}

void ControlClient::Close()
{
    if (client_ != nullptr) {
        std::string error;
        client_->Stop(&error);
        client_->Unmap();
        served_ += client_->served;
    }
    client_.reset();
    control_.reset();
}

}  // namespace Stress
