// The stream behind a wave render pin: it hands the pin's frames, a block at a time, to a stream
// node of the stream manager, which places them in the engine's rings; a frame completes once
// every block of it was taken.
#pragma once

#include "engine/StreamInterfaces.h"
#include "engine/StreamNode.h"
#include "ks/WavePinFormat.h"

class RenderPinStream final : public WavePinBase, public PinStreamSink
{
public:
    bool IsPinRunning() override;
    bool HasEngineObject() override { return node != nullptr; }
    void SetFirstChannel(ULONG channel) override;
    void Flush() override;
    // Positions change with processing and block completion, both under the pin lock.
    PKSPIN_LOCK PositionLock() override { return &pinLock; }

    void OnNodePeriod(StreamNode* node) override;
    void OnNodeConfigurationChanged(StreamNode* node, LONG configurationIndex) override;
    void OnNodeLate(StreamNode*, ULONG) override {}
    void OnNodeStreamingChanged(LONG streamingState) override;

    NTSTATUS Process();
    NTSTATUS SetState(KSSTATE to, KSSTATE from);
    void Close();

    StreamNode* node = nullptr;
    KSPIN_LOCK nodeLock = 0;
    ULONG heldBlocks = 0;
    ULONG owedBytes = 0;  // of the oldest frame
    UCHAR resynchronise = 0;
    UCHAR digital = 0;       // pin 1 of a S/PDIF filter: IEC 61937
    UCHAR outputModeOn = 0;  // this pin switched the device's digital-output mode on
    PVOID blockBuffer[1] = {};

private:
    bool DeviceFine() const;
    // Step 3 of processing: one block from the leading edge to the node. False to stop.
    bool PushBlock(PKSSTREAM_POINTER leading);
    void FinishBlock(ULONG bytes);
    LONG SetNodeFormat();
    void Resynchronise();
    StreamNode* CurrentNode();
    // The state, exchanged under the pin lock.
    void Publish(KSSTATE to);
    NTSTATUS Acquire();
    void Stop();
    void SwitchOutputModeOff();
};
