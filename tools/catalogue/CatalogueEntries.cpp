#include "CatalogueEntries.h"

#include "CatalogueNames.h"

#include "app/SemanticVersion.h"
#include "update/ComponentType.h"
#include "update/UpdateManager.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace PelkPlus {

namespace {

// An unsigned integer as the updater reads data versions. A decimal text with a leading zero would
// be read as octal there, so it is refused rather than published with a value nobody meant.
bool parseDataVersion(const QString& text, quint64 maximum, quint64* value)
{
    static const QRegularExpression pattern(QStringLiteral("^(0[xX][0-9A-Fa-f]{1,8}|0|[1-9][0-9]{0,9})$"));
    if (!pattern.match(text).hasMatch())
        return false;
    bool ok = false;
    *value = text.toULongLong(&ok, 0);
    return ok && *value <= maximum;
}

} // namespace

CatalogueEntries::CatalogueEntries(const QUrl& baseUrl, const QString& root)
    : filesBaseUrl(baseUrl)
    , rootDir(root)
{ }

bool CatalogueEntries::fileDigest(const QString& path, QByteArray* digest)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return false;
    *digest = hash.result();
    return true;
}

bool CatalogueEntries::checkVersion(const CatalogueEntry& entry, QString* error)
{
    const QString& version = entry.version;
    // An empty version is left for the parser to refuse, in its own words.
    if (version.isEmpty())
        return true;

    switch (entry.type) {
    case ComponentType::McuFirmware:
    case ComponentType::DspFirmware: {
        // The device keeps a firmware version in one word: release type in the high byte, major and
        // minor in four bits each. Anything else would be compared wrongly by every updater.
        static const QRegularExpression pattern(
            QStringLiteral("^([0-3])\\.([0-9]|1[0-5])\\.([0-9]|1[0-5])$"));
        if (!pattern.match(version).hasMatch()) {
            *error = QStringLiteral("%1: firmware version \"%2\" is not R.M.m with R 0 to 3, M and m 0 to 15")
                         .arg(CatalogueNames::describe(entry), version);
            return false;
        }
        return true;
    }
    case ComponentType::Styles:
    case ComponentType::EnsembleAudio: {
        const bool styles = entry.type == ComponentType::Styles;
        quint64 value = 0;
        if (!parseDataVersion(version, styles ? 0xFFFFu : 0xFFFFFFFFu, &value)) {
            *error = QStringLiteral(
                "%1: data version \"%2\" is not a %3-bit unsigned number (0x hexadecimal, or "
                "decimal without leading zeros)")
                         .arg(CatalogueNames::describe(entry), version)
                         .arg(styles ? 16 : 32);
            return false;
        }
        return true;
    }
    case ComponentType::WindowsApplication:
    case ComponentType::MacApplication:
        try {
            // The updater reads the text leniently ("01.2.3" as 1.2.3): only a text that reads
            // back as itself means to every reader what the publisher typed.
            const QString readBack = SemanticVersion(version).toString();
            if (readBack != version) {
                *error = QStringLiteral("%1: application version \"%2\" would be read as %3; write %3")
                             .arg(CatalogueNames::describe(entry), version, readBack);
                return false;
            }
        } catch (const SemanticVersion::error&) {
            *error = QStringLiteral("%1: application version \"%2\" is not a semantic version such as 2.1.0")
                         .arg(CatalogueNames::describe(entry), version);
            return false;
        }
        return true;
    }
    return true;
}

bool CatalogueEntries::isBaseUrlValid(QString* error) const
{
    const QString scheme = filesBaseUrl.scheme();
    if (!filesBaseUrl.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || filesBaseUrl.host().isEmpty() || filesBaseUrl.hasQuery() || filesBaseUrl.hasFragment()) {
        *error = QStringLiteral("base URL \"%1\" is not an http or https URL without query and fragment")
                     .arg(filesBaseUrl.toString());
        return false;
    }
    return true;
}

bool CatalogueEntries::add(CatalogueEntry entry, QString* error)
{
    if (!checkVersion(entry, error))
        return false;

    const QString described = CatalogueNames::describe(entry);
    for (const CatalogueEntry& existing : qAsConst(entryList)) {
        if (existing.product == entry.product && existing.type == entry.type) {
            // The updater would offer both one after the other.
            *error = QStringLiteral("%1: %2 %3 is already listed (%4)")
                         .arg(described, CatalogueNames::productName(entry.product),
                             CatalogueNames::componentName(entry.type), existing.version);
            return false;
        }
    }

    const QFileInfo file(entry.filePath);
    if (!file.isFile()) {
        *error = QStringLiteral("%1: no such file").arg(described);
        return false;
    }
    if (file.size() == 0) {
        *error = QStringLiteral("%1: the file is empty").arg(described);
        return false;
    }
    if (file.size() > largestComponentSize(entry.type)) {
        *error = QStringLiteral("%1: the file is larger than a %2 file can be (%3 bytes)")
                     .arg(described, componentTypeName(entry.type))
                     .arg(largestComponentSize(entry.type));
        return false;
    }
    entry.size = file.size();
    if (!fileDigest(entry.filePath, &entry.sha256)) {
        *error = QStringLiteral("%1: the file cannot be read").arg(described);
        return false;
    }
    // Compared through canonical paths so that symbolic links and "a/../b" do not move a file out
    // of the root unnoticed.
    const QString canonicalRoot = QFileInfo(rootDir.path()).canonicalFilePath();
    const QString below = canonicalRoot.isEmpty()
        ? QString()
        : QDir(canonicalRoot).relativeFilePath(file.canonicalFilePath());
    if (below.isEmpty() || below.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(below)) {
        *error = QStringLiteral("%1: the file is not below the catalogue root %2")
                     .arg(described, rootDir.path());
        return false;
    }

    QUrl url = filesBaseUrl;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + below, QUrl::DecodedMode);
    // An updater leaves out a package of itself that would come over plain http: it would never
    // be offered.
    if (!UpdateManager::isAllowedComponentUrl(url, url, entry.type)) {
        *error = QStringLiteral("%1: an updater package must be served over https (updaters leave out "
                                "one at %2); give an https base URL")
                     .arg(described, url.toString());
        return false;
    }
    entry.url = url;
    entryList.append(entry);
    return true;
}

QList<CatalogueEntry> CatalogueEntries::manifestOrder() const
{
    QList<CatalogueEntry> ordered;
    for (const ManifestProduct product : CatalogueNames::products()) {
        for (const CatalogueEntry& entry : entryList) {
            if (entry.product == product)
                ordered.append(entry);
        }
    }
    return ordered;
}

} // namespace PelkPlus
