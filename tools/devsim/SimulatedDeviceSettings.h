#pragma once

#include "device/DeviceModel.h"
#include "device/DeviceProtocol.h"

#include <QString>

namespace PelkPlus {

enum class SimulatedReadyBehaviour { Immediately, AfterQueries, Never, NoAnswer };
enum class SimulatedHeaderBehaviour { Normal, NoAnswer, BadSignature, BadCommand, BadCount };

// What a simulated device is and how it behaves.
struct SimulatedDeviceSettings
{
    int model = Plus;
    QString serialNumber = QStringLiteral("PK000001");
    QString path = QStringLiteral("sim/pelk-1");
    int interfaces = 1;
    // How many times the bus lists each interface, all with its one path (hidapi lists a node once
    // per usage of its report descriptor).
    int duplicateEntries = 1;
    // For this long after the device appears (added, plugged, back from a reboot) opens are refused
    // for want of access, as a node is until udev has applied the seat's rule.
    int refuseOpenMs = 0;
    unsigned mcuWord = 0x0312;
    unsigned dspWord = 0x0310;
    quint16 stylesVersion = 0x0100;
    quint32 ensembleVersion = 0x00010000;
    quint16 tag = 0x5A5A;
    // A Base may report its release types with both low bits cleared; the host reads them set.
    bool clearBaseReleaseBits = false;
    SimulatedReadyBehaviour ready = SimulatedReadyBehaviour::Immediately;
    int readyAfterQueries = 0;
    SimulatedHeaderBehaviour header = SimulatedHeaderBehaviour::Normal;
    bool headerAfterReboot = true;
    bool dropOffAfterInstall = true;
    bool comeBackAfterReboot = true;
    // Takes a component whole but keeps reporting the version it had before.
    bool keepVersionAfterInstall = false;
    // Stores the version a Styles or Ensemble Audio image names as soon as the packet holding its
    // marker is in, before the last sector: a transfer cut short leaves the new version reported.
    bool versionBeforeLastSector = false;
    // Comes back from a reboot or power cycle on this path instead of its own (empty: its own).
    QString returnPath;
    // The USB port the bus says the device is plugged into, kept across its restarts; empty for
    // one of its own ("sim-port-N", N its place on the bus), "-" for none (as on Windows).
    QString portPath;
    int rebootMs = DeviceProtocol::restart();
    int unplugAfterPacket = -1;
    // After this many reports the device takes no more (it hangs without leaving the bus); -1 never.
    int stopTakingAfterPacket = -1;
    bool paced = false;
    // A paced device takes one report every this many millisecond frames: above 1, a device slower
    // than its USB frames.
    int reportMs = DeviceProtocol::reportMs;
    // How long the device needs to write one flash sector; nothing may arrive meanwhile, after the
    // last sector as after every other.
    int sectorWriteMs = DeviceProtocol::sectorPause();
    // Quiet time after which sectors with no terminating packet due count as complete (and a
    // transfer stopped between sectors as abandoned). The half second beyond the sector pause is
    // the host's slack and is not scaled with the test clock: a busy host late by more than a
    // twentieth of a second would otherwise have its transfer abandoned between two sectors and
    // the rest taken as a new one.
    int quietCompleteMs = DeviceProtocol::scaled(DeviceProtocol::sectorPauseMs) + 500;
};

} // namespace PelkPlus
