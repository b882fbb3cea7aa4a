// Enumerations shared by the wave objects, the chain components and the waveform views.
#pragma once

#include <cstdint>

// The unit in which a component states positions and lengths.
enum TMMTimeFormats : int32_t { tfMillisecond = 0, tfByte = 1, tfSample = 2 };

enum TMMMode : int32_t { mMono = 0, mStereo = 1, mMultiChannel = 2 };

enum TMMBits : int32_t { b8Bit = 0, b16Bit = 1 };

enum TMMChannel : int32_t { chBoth = 0, chLeft = 1, chRight = 2 };
