-- The hardware database: one row per controller or synthesiser model, keyed
-- by the 16-bit magic number the board reports from register 0. The build
-- turns this text into an SQLite database image with the sqlite3 program and
-- compiles the image into the library, which reads it in place.
-- Frequencies and clocks are in MHz; flags are the texts TRUE and FALSE.
-- Rows are kept in this order: a lookup reports them in storage order and,
-- where two rows of one kind share a magic number, the later one wins.
PRAGMA page_size = 1024;
PRAGMA encoding = 'UTF-8';

BEGIN TRANSACTION;

CREATE TABLE hwlist (
    Magic INTEGER,
    ModelNum TEXT,
    OptionId INTEGER UNIQUE,
    Description TEXT,
    Type TEXT NOT NULL,
    nSynth INTEGER,
    FastTransfer TEXT,
    MaxImageSize INTEGER,
    SimultaneousPlayback TEXT,
    MaxImageRate INTEGER,
    LowerFreq INTEGER,
    UpperFreq INTEGER,
    FreqBits INTEGER,
    AmplBits INTEGER,
    PhsBits INTEGER,
    LUTDepth INTEGER,
    LUTAmplBits INTEGER,
    LUTPhaseBits INTEGER,
    LUTSyncAnlgBits INTEGER,
    LUTSyncDigBits INTEGER,
    SysClock INTEGER,
    Channels INTEGER,
    RemoteUpgrade TEXT
);

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    nSynth, FastTransfer, MaxImageSize, SimultaneousPlayback, MaxImageRate,
                    RemoteUpgrade)
VALUES (1193, 'QelL', 'Qel-Lite Controller', 'Controller',
        1, 'FALSE', 4096, 'FALSE', 250000,
        'FALSE');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    LowerFreq, UpperFreq,
                    FreqBits, AmplBits, PhsBits, LUTDepth,
                    LUTAmplBits, LUTPhaseBits, LUTSyncAnlgBits, LUTSyncDigBits,
                    SysClock, Channels, RemoteUpgrade)
VALUES (51195, 'Qel4', 'Qel-4 10-200MHz 4-Channel RF Synthesiser', 'Synthesiser',
        12.5, 200,
        16, 8, 12, 11,
        12, 14, 12, 12,
        500, 4, 'FALSE');

-- A platform whose synthesiser is supplied by the user: its word widths are
-- unknown (-1) and the columns it cannot state are NULL.
INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    LowerFreq, UpperFreq,
                    FreqBits, AmplBits, PhsBits, LUTDepth,
                    LUTAmplBits, LUTPhaseBits, LUTSyncAnlgBits, LUTSyncDigBits,
                    SysClock, Channels, RemoteUpgrade)
VALUES (19459, 'QelI', 'Qel-I User Input 1:4 RF Platform', 'Synthesiser',
        10, 200,
        -1, -1, -1, -1,
        NULL, NULL, NULL, NULL,
        NULL, NULL, 'FALSE');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    LowerFreq, UpperFreq,
                    FreqBits, AmplBits, PhsBits, LUTDepth,
                    LUTAmplBits, LUTPhaseBits, LUTSyncAnlgBits, LUTSyncDigBits,
                    SysClock, Channels, RemoteUpgrade)
VALUES (38909, 'Qel-IAI', 'Qel-IAI 45-95MHz 4 Channel RF Synthesiser', 'Synthesiser',
        45, 95,
        12, 8, 14, 12,
        12, 14, 12, 4,
        400, 4, 'FALSE');

-- Option rows have no magic number; no lookup ever returns them.
INSERT INTO hwlist (Magic, ModelNum, OptionId, Description, Type)
VALUES (NULL, NULL, 0, 'RF Amplifier Diagnostics Board', 'Option');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    nSynth, FastTransfer, MaxImageSize, SimultaneousPlayback, MaxImageRate,
                    RemoteUpgrade)
VALUES (44332, 'QelP', 'Qel-Pro Controller', 'Controller',
        1, 'TRUE', 177558869, 'TRUE', 4000000,
        'FALSE');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    LowerFreq, UpperFreq,
                    FreqBits, AmplBits, PhsBits, LUTDepth,
                    LUTAmplBits, LUTPhaseBits, LUTSyncAnlgBits, LUTSyncDigBits,
                    SysClock, Channels, RemoteUpgrade)
VALUES (53399, 'Qel4b', 'Qel-4b 12.5-200MHz 4-Channel RF Synthesiser', 'Synthesiser',
        12.288, 196.608,
        16, 8, 12, 11,
        12, 14, 12, 12,
        491.52, 4, 'FALSE');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    LowerFreq, UpperFreq,
                    FreqBits, AmplBits, PhsBits, LUTDepth,
                    LUTAmplBits, LUTPhaseBits, LUTSyncAnlgBits, LUTSyncDigBits,
                    SysClock, Channels, RemoteUpgrade)
VALUES (61075, 'Qel4b', 'Qel-4b 12.5-200MHz 4-Channel RF Synthesiser', 'Synthesiser',
        12.5, 200.66,
        16, 8, 12, 11,
        12, 14, 12, 12,
        491.52, 4, 'FALSE');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    nSynth, FastTransfer, MaxImageSize, SimultaneousPlayback, MaxImageRate,
                    RemoteUpgrade)
VALUES (47596, 'QelLb', 'Qel-Lite Controller', 'Controller',
        1, 'FALSE', 4096, 'FALSE', 250000,
        'FALSE');

-- A board that is controller and synthesiser in one: both rows answer the
-- same magic number, so one lookup fills both records.
INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    LowerFreq, UpperFreq,
                    FreqBits, AmplBits, PhsBits, LUTDepth,
                    LUTAmplBits, LUTPhaseBits, LUTSyncAnlgBits, LUTSyncDigBits,
                    SysClock, Channels, RemoteUpgrade)
VALUES (50447, 'Ulix3', 'Ulix3 Synthesiser', 'Synthesiser',
        10, 160,
        16, 8, 12, 11,
        12, 14, 12, 12,
        400, 2, 'TRUE');

INSERT INTO hwlist (Magic, ModelNum, Description, Type,
                    nSynth, FastTransfer, MaxImageSize, SimultaneousPlayback, MaxImageRate,
                    RemoteUpgrade)
VALUES (50447, 'Ulix3', 'Ulix3 Controller', 'Controller',
        1, 'TRUE', 10000000, 'TRUE', 1000000,
        'FALSE');

COMMIT;
