#pragma once

#include "support/VirtualBus.h"

#include <QString>
#include <QStringList>

namespace PelkPlus {

class HttpTestServer;

// The devices and manifests that rows of planning tests name.

// "pelk", "pelk+", "pelk+ alpha 6.3" or "pelk+ alpha 6.4": MCU Production 1.2 (or the alpha
// named), DSP Production 1.0, Styles 0x12 and Ensemble Audio 15.
SimulatedDeviceSettings planningDevice(const QString& name);

// Serves a manifest of "product|name|version|size" entries, each with a file of that size.
void publishPlanningManifest(HttpTestServer& server, const QStringList& components);

// Serves a catalogue of one MCU image, Alpha 6.5 with its digest, valid for 30 days from now;
// signed, and its key trusted in the settings, when trusted is set. The test removes the
// trusted key ("update/trusted-keys") once it has planned.
void publishSignedCatalogue(HttpTestServer& server, bool trusted);

} // namespace PelkPlus
