#pragma once
// ControllerCaps and SynthCaps: what a controller board and a synthesiser can
// do, as the hardware database describes each model. Plain value types with
// the defaults that hold when no database row matched. Frequencies and clocks
// are in hertz.

namespace Qel {

struct ControllerCaps {
    int nSynth = 1;
    bool FastTransfer = false;
    int MaxImageSize = 4096;
    bool SimultaneousPlayback = false;
    double MaxImageRate = 250.0;
    bool RemoteUpgrade = false;
};

struct SynthCaps {
    double LowerFreq = 0.0;            // Hz
    double UpperFreq = 250000000.0;    // Hz
    int FreqBits = 16;
    int AmplBits = 10;
    int PhsBits = 12;
    int LUTDepth = 12;
    int LUTAmplBits = 12;
    int LUTPhaseBits = 14;
    int LUTSyncAnlgBits = 12;
    int LUTSyncDigBits = 12;
    double SysClock = 500000000.0;     // Hz
    double SyncClock = 125000000.0;    // Hz
    int Channels = 4;
    bool RemoteUpgrade = false;
};

}  // namespace Qel
