#pragma once

#include "CatalogueEntry.h"

#include <QList>
#include <QString>

namespace PelkPlus {

// The names a manifest gives products and component types, and the publisher's text of a
// component, "<product>:<type>:<version>:<file>".
class CatalogueNames
{
public:
    // Splits "<product>:<type>:<version>:<file>". Products are the manifest's names ("PELK",
    // "PELK+", "Pelk Updater", "Pelk Manager") or base, plus, updater, manager; types are the
    // manifest's names ("MP", "DSP", "Styles", "Ensemble", "Win", "Mac") or mcu, dsp, styles,
    // ensemble, win, mac. Whether a type belongs to the product is left to the manifest parser.
    static bool parseEntry(const QString& text, CatalogueEntry* entry, QString* error);

    // The manifest's names of a product and of a component type.
    static QString productName(ManifestProduct product);
    static QString componentName(ComponentType type);
    // The entry in the publisher's form with the manifest's names: how a complaint names it.
    static QString describe(const CatalogueEntry& entry);

    // The products in the order a manifest lists them.
    static QList<ManifestProduct> products();
};

} // namespace PelkPlus
