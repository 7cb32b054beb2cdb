#include "CatalogueNames.h"

#include <QStringList>

namespace PelkPlus {

namespace {

struct ProductName
{
    ManifestProduct product;
    const char* name;
    const char* alias;
};

const ProductName productNames[] = {
    { ManifestProduct::Base, "PELK", "base" },
    { ManifestProduct::Plus, "PELK+", "plus" },
    { ManifestProduct::Updater, "Pelk Updater", "updater" },
    { ManifestProduct::Manager, "Pelk Manager", "manager" },
};

struct TypeName
{
    ComponentType type;
    const char* name;
    const char* alias;
};

const TypeName typeNames[] = {
    { ComponentType::McuFirmware, "MP", "mcu" },
    { ComponentType::DspFirmware, "DSP", "dsp" },
    { ComponentType::Styles, "Styles", "styles" },
    { ComponentType::EnsembleAudio, "Ensemble", "ensemble" },
    { ComponentType::WindowsApplication, "Win", "win" },
    { ComponentType::MacApplication, "Mac", "mac" },
};

// Publishers type these by hand; the manifest gets the exact names whatever the case typed.
bool isNamed(const QString& text, const char* name, const char* alias)
{
    return text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String(alias), Qt::CaseInsensitive) == 0;
}

} // namespace

bool CatalogueNames::parseEntry(const QString& text, CatalogueEntry* entry, QString* error)
{
    // The file comes last so that a path may itself hold colons.
    const QStringList fields = text.split(QLatin1Char(':'));
    if (fields.size() < 4) {
        *error = QStringLiteral("component \"%1\" is not <product>:<type>:<version>:<file>").arg(text);
        return false;
    }

    const QString product = fields.at(0).trimmed();
    bool productFound = false;
    for (const ProductName& name : productNames) {
        if (isNamed(product, name.name, name.alias)) {
            entry->product = name.product;
            productFound = true;
            break;
        }
    }
    if (!productFound) {
        *error = QStringLiteral(
            "component \"%1\": unknown product \"%2\" (PELK, PELK+, Pelk Updater, Pelk Manager "
            "or base, plus, updater, manager)")
                     .arg(text, product);
        return false;
    }

    const QString type = fields.at(1).trimmed();
    bool typeFound = false;
    for (const TypeName& name : typeNames) {
        if (isNamed(type, name.name, name.alias)) {
            entry->type = name.type;
            typeFound = true;
            break;
        }
    }
    if (!typeFound) {
        *error = QStringLiteral("component \"%1\": unknown type \"%2\" (MP, DSP, Styles, Ensemble, Win, Mac "
                                "or mcu, dsp, styles, ensemble, win, mac)")
                     .arg(text, type);
        return false;
    }

    entry->version = fields.at(2).trimmed();
    entry->filePath = fields.mid(3).join(QLatin1Char(':'));
    if (entry->filePath.isEmpty()) {
        *error = QStringLiteral("component \"%1\" names no file").arg(text);
        return false;
    }
    return true;
}

QString CatalogueNames::productName(ManifestProduct product)
{
    for (const ProductName& name : productNames) {
        if (name.product == product)
            return QLatin1String(name.name);
    }
    return QString();
}

QString CatalogueNames::componentName(ComponentType type)
{
    for (const TypeName& name : typeNames) {
        if (name.type == type)
            return QLatin1String(name.name);
    }
    return QString();
}

QString CatalogueNames::describe(const CatalogueEntry& entry)
{
    return QStringLiteral("%1:%2:%3:%4")
        .arg(productName(entry.product), componentName(entry.type), entry.version, entry.filePath);
}

QList<ManifestProduct> CatalogueNames::products()
{
    QList<ManifestProduct> order;
    for (const ProductName& name : productNames)
        order.append(name.product);
    return order;
}

} // namespace PelkPlus
