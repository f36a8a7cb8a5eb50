#pragma once
// Pool tags of the audio data path, built so that their bytes in memory spell the text.

#include <wdm.h>

constexpr ULONG AudioPoolTag(const char (&text)[5])
{
    return static_cast<ULONG>(static_cast<unsigned char>(text[0])) |
           static_cast<ULONG>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<ULONG>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<ULONG>(static_cast<unsigned char>(text[3])) << 24;
}

// Gain matrices and the run tables of channel buffer sets.
inline constexpr ULONG kChannelTablesTag = AudioPoolTag("PcNw");
// The buffers of the engine's 32-bit mix bus and of client streams' buffer sets.
inline constexpr ULONG kMixBusTag = AudioPoolTag("XiMw");
inline constexpr ULONG kClientStreamTag = AudioPoolTag("ASCC");
