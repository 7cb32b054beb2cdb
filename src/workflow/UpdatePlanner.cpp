#include "workflow/UpdatePlanner.h"

#include "app/SemanticVersion.h"
#include "device/DeviceModel.h"
#include "device/FirmwareVersion.h"
#include "workflow/VersionText.h"

#include <QDebug>

namespace PelkPlus {

namespace {

// Firmware older than this has no USB boot loader: a newer MCU image cannot reach it by cable.
const FirmwareVersion oldestUsbUpdatableMcu { Alpha, 6, 4 };

} // namespace

bool UpdatePlanner::canUpdateMcuByUsb(const DeviceInfo& info)
{
    return !(info.mcuVersion < oldestUsbUpdatableMcu);
}

QString UpdatePlanner::mcuNotUpdatableWarning()
{
    return QStringLiteral(
        "An MCU update is available but your current MCU firmware cannot be updated by USB. "
        "It must be programmed directly into the MCU.");
}

ManifestProduct UpdatePlanner::productFor(const DeviceInfo& info)
{
    return info.model == Base ? ManifestProduct::Base : ManifestProduct::Plus;
}

UpdatePlan UpdatePlanner::plan(const DeviceInfo& info, const QList<Component>& components, bool forceAll)
{
    UpdatePlan plan;
    for (const Component& component : components) {
        // A Pelk has no Styles memory: planning Styles for it would only fail the update there.
        if (component.type == ComponentType::Styles && info.model == Base) {
            qDebug() << "Styles skipped: a Pelk holds no Styles.";
            continue;
        }
        if (forceAll) {
            // Reinstalling everything still cannot reach an MCU without a USB boot loader.
            if (component.type == ComponentType::McuFirmware && !canUpdateMcuByUsb(info)) {
                if (!plan.warnings.contains(mcuNotUpdatableWarning())) {
                    plan.warnings.append(mcuNotUpdatableWarning());
                    qCritical().noquote() << mcuNotUpdatableWarning();
                }
                continue;
            }
            plan.components.append(component);
            continue;
        }

        switch (component.type) {
        case ComponentType::McuFirmware: {
            const FirmwareVersion version = parseFirmwareVersion(component.version);
            qDebug() << "Found MCU:" << version.toString() << component.version;
            if (!(info.mcuVersion < version))
                break;
            if (!canUpdateMcuByUsb(info)) {
                const QString warning = mcuNotUpdatableWarning();
                plan.warnings.append(warning);
                qCritical().noquote() << warning;
                break;
            }
            plan.components.append(component);
            qDebug() << "New MCU";
            break;
        }
        case ComponentType::DspFirmware: {
            const FirmwareVersion version = parseFirmwareVersion(component.version);
            qDebug() << "Found DSP:" << version.toString() << component.version;
            if (info.dspVersion < version) {
                plan.components.append(component);
                qDebug() << "New DSP.";
            }
            break;
        }
        case ComponentType::Styles: {
            // Data versions are only told apart: whatever the manifest offers replaces the device's.
            const quint16 version = stylesVersionFromText(component.version);
            qDebug() << "Found Styles:" << hexVersionText(version) << component.version;
            if (version != info.stylesVersion) {
                plan.components.append(component);
                qDebug() << "New Styles.";
            }
            break;
        }
        case ComponentType::EnsembleAudio: {
            const quint32 version = ensembleAudioVersionFromText(component.version);
            qDebug() << "Found Ensemble Audio:" << hexVersionText(version) << component.version;
            if (version != info.ensembleVersion) {
                plan.components.append(component);
                qDebug() << "New Ensemble.";
            }
            break;
        }
        default:
            qCritical() << "Device update: Unexpected component type";
            break;
        }
    }
    return plan;
}

QString UpdatePlanner::kilobytesText(qint64 bytes)
{
    // Rounded up without adding first, so that no byte count overflows.
    return QString::number(qMax<qint64>(bytes, 0) / 1024 + (qMax<qint64>(bytes, 0) % 1024 != 0 ? 1 : 0));
}

QString UpdatePlanner::describe(const Component& component)
{
    return QStringLiteral("%1: Version %2, Size %3 KB")
        .arg(componentTypeName(component.type), VersionText::ofComponent(component),
            kilobytesText(component.size));
}

} // namespace PelkPlus
