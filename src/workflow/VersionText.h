#pragma once

#include "device/DeviceInfo.h"
#include "update/ComponentType.h"

#include <QString>

namespace PelkPlus {

struct Component;

// A component's version as a person reads it, one form everywhere: the device's display form
// ("Production 2.7", "0x1A2B"), with the catalogue's own form beside it where the two differ
// ("Production 2.7 (3.2.7)"), so that a version before an update and the one sent read alike.
class VersionText
{
public:
    // A catalogue's version read as planning reads it, in the device's display form: firmware by
    // its three numbers (anything else reads as Alpha 0.0), data versions as numbers with
    // automatic base (anything else reads as 0x0; Styles keeps its low 16 bits). So what the
    // list shows is what was compared, and what the history shows beside it. Empty for a type
    // the device does not hold.
    static QString displayed(ComponentType type, const QString& catalogueVersion);
    // displayed(), followed by the catalogue's form in brackets where that differs; an empty text
    // (no version known) stays empty.
    static QString withCatalogue(ComponentType type, const QString& catalogueVersion);
    // The version of a catalogue's component, as its line in a plan shows it.
    static QString ofComponent(const Component& component);
    // The version the device reports for the type; empty for Styles on a Pelk, which has none.
    static QString ofDevice(const DeviceInfo& info, ComponentType type);
    // The type by its name ("MCU Firmware"), as the history records it; false for another name.
    static bool typeFromName(const QString& name, ComponentType* type);
    // The versions of an install record, named by its component's name, as a person reads them:
    // the version before as the device showed it, the one sent with the catalogue's beside it; the
    // text as recorded for a component of no known type.
    static QString recordedBefore(const QString& component, const QString& version);
    static QString recordedSent(const QString& component, const QString& version);
};

} // namespace PelkPlus
