#pragma once

namespace PelkPlus {

// The sizes and timing of the device's update protocol, in one place: the transfers and the agent
// pace the device by them, the simulator expects them and the update estimate adds them up.
//
// The waits are read through the functions below, which divide them by timeScale(): 1 in the
// program, more where a test runs the protocol on a faster clock (PELK_TEST_TIME_SCALE). The
// constants themselves never change; the estimate shown to a person reads them directly.
struct DeviceProtocol
{
    // Bytes of a file in one data packet (at most maxPayloadSize): the MCU firmware's and the sector
    // components' fill it; a DSP
    // firmware packet carries 54 bytes, each spelled in the file as one line ("0x3F" and its end).
    static constexpr int maxPayloadSize = 56;
    static constexpr int mcuPayloadSize = maxPayloadSize;
    static constexpr int dspPayloadSize = 54;
    static constexpr int dspLineLength = 5;
    static constexpr int sectorPayloadSize = maxPayloadSize;
    // Styles and Ensemble Audio go into flash in sectors this size, each all its packets long (the
    // last zero-filled).
    static constexpr int sectorSize = 65536;
    static constexpr int packetsPerSector = (sectorSize + sectorPayloadSize - 1) / sectorPayloadSize;
    // A full-speed USB endpoint takes one report each frame.
    static constexpr int reportMs = 1;

    // Nothing may reach the device while it writes a sector.
    static constexpr int sectorPauseMs = 2100;
    // A Pelk cannot be asked whether it is ready for an update; it is given this long instead.
    static constexpr int baseReadyDelayMs = 3000;
    // A Pelk+ is asked every readyPollIntervalMs until it says so or readyDeadlineMs have passed,
    // after which it is assumed ready. The query's own answer bound is not a wait and is not scaled.
    static constexpr int readyDeadlineMs = 20000;
    static constexpr int readyPollIntervalMs = 500;
    static constexpr int readyQueryTimeoutMs = 200;
    // After it took a component the device restarts in 2 to 4 seconds. One that has not dropped off
    // the bus within its reboot time-out is to be power-cycled; the Pelk+ has more to write to its
    // flash before it restarts.
    static constexpr int restartMs = 3000;
    static constexpr int baseRebootTimeoutMs = 15000;
    static constexpr int plusRebootTimeoutMs = 20000;
    // How long a device that dropped off the bus after its install may take to come back ready: a
    // minute is generous for a 2 to 4 second restart and still ends a wait that would not.
    static constexpr int rebootReturnMs = 60000;

    // After it took a component the agent looks this often whether the device's handle went dead:
    // a restart quicker than the monitor's one-second poll, on a path that stays the same, is seen
    // by the link alone. Only reads, which the device is never given while it restarts.
    static constexpr int dropOffCheckMs = 100;

    // How long the agent's destructor waits for its thread. The thread ends within a packet or a
    // wait slice once asked, unless it is held in a call into the HID stack that does not return (a
    // write the device never takes); then it is left to end by itself, so that closing the window
    // or unplugging never freezes it. Not a protocol wait: never scaled.
    static constexpr int agentShutdownMs = 1000;

    // How many times faster than real time the waits run: PELK_TEST_TIME_SCALE (1 to 100), read
    // once; 1 when it is unset or anything else.
    static int timeScale();
    // ms on this run's clock; never below 1 ms, so that an order of events is kept.
    static int scaled(int ms);

    static int sectorPause() { return scaled(sectorPauseMs); }
    static int baseReadyDelay() { return scaled(baseReadyDelayMs); }
    static int readyDeadline() { return scaled(readyDeadlineMs); }
    static int readyPollInterval() { return scaled(readyPollIntervalMs); }
    static int restart() { return scaled(restartMs); }
    static int rebootTimeout(bool base) { return scaled(base ? baseRebootTimeoutMs : plusRebootTimeoutMs); }
    static int rebootReturn() { return scaled(rebootReturnMs); }
};

} // namespace PelkPlus
