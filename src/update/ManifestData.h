#pragma once

#include "update/Component.h"
#include "update/ManifestProduct.h"

#include <QList>
#include <QMap>

namespace PelkPlus {

// The components of each product, in manifest order. A product has an entry only once one of its
// components has been accepted.
using ManifestData = QMap<ManifestProduct, QList<Component>>;

} // namespace PelkPlus
