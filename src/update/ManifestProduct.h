#pragma once

#include <QMetaType>

namespace PelkPlus {

// The products a manifest lists components for. Base and Plus have the numbers of the device
// models, so the components for a connected device are those of ManifestProduct(model).
enum class ManifestProduct : int {
    Base = 0,
    Plus = 1,
    Updater = 2,
    Manager = 3,
};

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::ManifestProduct)
