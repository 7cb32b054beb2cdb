#include "CatalogueWriter.h"

#include "app/SemanticVersion.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"
#include "update/DownloadRequest.h"
#include "update/UpdateManifestParser.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QXmlStreamWriter>

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

QString describe(const CatalogueEntry& entry)
{
    return QStringLiteral("%1:%2:%3:%4")
        .arg(CatalogueWriter::productName(entry.product), CatalogueWriter::componentName(entry.type),
            entry.version, entry.filePath);
}

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

bool CatalogueWriter::fileDigest(const QString& path, QByteArray* digest)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return false;
    *digest = hash.result();
    return true;
}

CatalogueWriter::CatalogueWriter(const QUrl& baseUrl, const QString& root, const QString& releaseDate)
    : filesBaseUrl(baseUrl)
    , rootDir(root)
    , defaultReleaseDate(releaseDate)
{ }

bool CatalogueWriter::parseEntry(const QString& text, CatalogueEntry* entry, QString* error)
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

QString CatalogueWriter::productName(ManifestProduct product)
{
    for (const ProductName& name : productNames) {
        if (name.product == product)
            return QLatin1String(name.name);
    }
    return QString();
}

QString CatalogueWriter::componentName(ComponentType type)
{
    for (const TypeName& name : typeNames) {
        if (name.type == type)
            return QLatin1String(name.name);
    }
    return QString();
}

bool CatalogueWriter::checkVersion(const CatalogueEntry& entry, QString* error)
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
                         .arg(describe(entry), version);
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
                         .arg(describe(entry), version)
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
                             .arg(describe(entry), version, readBack);
                return false;
            }
        } catch (const SemanticVersion::error&) {
            *error = QStringLiteral("%1: application version \"%2\" is not a semantic version such as 2.1.0")
                         .arg(describe(entry), version);
            return false;
        }
        return true;
    }
    return true;
}

bool CatalogueWriter::isBaseUrlValid(QString* error) const
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

void CatalogueWriter::setValidity(const QDateTime& published, const QDateTime& expires)
{
    // To the second, as written.
    auto seconds = [](const QDateTime& time) {
        return time.isValid() ? QDateTime::fromSecsSinceEpoch(time.toSecsSinceEpoch(), Qt::UTC) : QDateTime();
    };
    publishedAt = seconds(published);
    expiresAt = seconds(expires);
}

bool CatalogueWriter::addEntry(CatalogueEntry entry, QString* error)
{
    if (!checkVersion(entry, error))
        return false;

    for (const CatalogueEntry& existing : qAsConst(entryList)) {
        if (existing.product == entry.product && existing.type == entry.type) {
            // The updater would offer both one after the other.
            *error = QStringLiteral("%1: %2 %3 is already listed (%4)")
                         .arg(describe(entry), productName(entry.product), componentName(entry.type),
                             existing.version);
            return false;
        }
    }

    const QFileInfo file(entry.filePath);
    if (!file.isFile()) {
        *error = QStringLiteral("%1: no such file").arg(describe(entry));
        return false;
    }
    if (file.size() == 0) {
        *error = QStringLiteral("%1: the file is empty").arg(describe(entry));
        return false;
    }
    if (file.size() > DownloadRequest::maximumComponentSize) {
        *error = QStringLiteral("%1: the file is larger than the updater downloads (%2 bytes)")
                     .arg(describe(entry))
                     .arg(DownloadRequest::maximumComponentSize);
        return false;
    }
    if (!fileDigest(entry.filePath, &entry.sha256)) {
        *error = QStringLiteral("%1: the file cannot be read").arg(describe(entry));
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
                     .arg(describe(entry), rootDir.path());
        return false;
    }

    QUrl url = filesBaseUrl;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + below, QUrl::DecodedMode);
    entry.url = url;
    entryList.append(entry);
    return true;
}

QList<CatalogueEntry> CatalogueWriter::manifestOrder() const
{
    QList<CatalogueEntry> ordered;
    for (const ProductName& name : productNames) {
        for (const CatalogueEntry& entry : entryList) {
            if (entry.product == name.product)
                ordered.append(entry);
        }
    }
    return ordered;
}

QByteArray CatalogueWriter::manifest() const
{
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("Family"));
    xml.writeAttribute(QStringLiteral("Name"), QStringLiteral("PELK"));
    if (publishedAt.isValid())
        xml.writeAttribute(QStringLiteral("Published"), CatalogueHeader::timeText(publishedAt));
    if (expiresAt.isValid())
        xml.writeAttribute(QStringLiteral("Expires"), CatalogueHeader::timeText(expiresAt));
    const QList<CatalogueEntry> ordered = manifestOrder();
    for (const ProductName& name : productNames) {
        bool opened = false;
        for (const CatalogueEntry& entry : ordered) {
            if (entry.product != name.product)
                continue;
            if (!opened) {
                xml.writeStartElement(QStringLiteral("Product"));
                xml.writeAttribute(QStringLiteral("Name"), QLatin1String(name.name));
                xml.writeStartElement(QStringLiteral("Components"));
                opened = true;
            }
            xml.writeEmptyElement(QStringLiteral("Component"));
            xml.writeAttribute(QStringLiteral("Name"), componentName(entry.type));
            xml.writeAttribute(QStringLiteral("Version"), entry.version);
            xml.writeAttribute(QStringLiteral("ReleaseDate"), defaultReleaseDate);
            xml.writeAttribute(QStringLiteral("URL"), QString::fromLatin1(entry.url.toEncoded()));
            xml.writeAttribute(QStringLiteral("SHA256"), QString::fromLatin1(entry.sha256.toHex()));
        }
        if (opened) {
            xml.writeEndElement(); // Components
            xml.writeEndElement(); // Product
        }
    }
    xml.writeEndElement(); // Family
    xml.writeEndDocument();
    return text;
}

bool CatalogueWriter::readBack(const QByteArray& manifest, ManifestData* data, QString* error)
{
    UpdateManifestParser parser;
    QBuffer buffer;
    buffer.setData(manifest);
    buffer.open(QIODevice::ReadOnly);
    // The same bounds as the updater's, so that what passes here is read there.
    const bool ok = parser.parseManifest(&buffer);
    *data = parser.manifestData();
    if (!ok)
        *error = parser.errorString();
    return ok;
}

bool CatalogueWriter::write(const QString& path, QString* error) const
{
    return write(path, {}, error);
}

bool CatalogueWriter::write(const QString& path, const QList<QByteArray>& secretKeys, QString* error) const
{
    if (entryList.isEmpty()) {
        *error = QStringLiteral("no components given");
        return false;
    }

    const QByteArray text = manifest();
    const QList<CatalogueEntry> ordered = manifestOrder();
    ManifestData data;
    QString complaint;
    const bool parsed = readBack(text, &data, &complaint);
    QList<Component> components;
    for (const ProductName& name : productNames)
        components += data.value(name.product);

    if (!parsed) {
        // The parser stops at the first component it refuses; all before it were accepted.
        const int refused = components.size();
        *error = refused < ordered.size()
            ? QStringLiteral("the updater would refuse this manifest at %1: %2")
                  .arg(describe(ordered.at(refused)), complaint)
            : QStringLiteral("the updater would refuse this manifest: %1").arg(complaint);
        return false;
    }
    if (components.size() != ordered.size()) {
        *error = QStringLiteral("the manifest reads back with %1 components instead of %2")
                     .arg(components.size())
                     .arg(ordered.size());
        return false;
    }
    for (int i = 0; i < ordered.size(); ++i) {
        const Component& read = components.at(i);
        const CatalogueEntry& entry = ordered.at(i);
        if (read.type != entry.type || read.version != entry.version || read.url != entry.url
            || read.releaseDate != defaultReleaseDate || read.sha256 != entry.sha256) {
            *error
                = QStringLiteral("%1 reads back as %2 %3 %4")
                      .arg(describe(entry), componentTypeName(read.type), read.version, read.url.toString());
            return false;
        }
    }

    const CatalogueHeader header = CatalogueHeader::read(text);
    if (header.published != publishedAt.toUTC() || header.expires != expiresAt.toUTC()) {
        *error = QStringLiteral("the manifest's Published and Expires times do not read back");
        return false;
    }

    QByteArray signature;
    if (!secretKeys.isEmpty()) {
        signature = CatalogueSignature::sign(text, secretKeys);
        // Each key must verify its own signature in the very file written: a signing that went
        // wrong is found here, not by every updater.
        for (const QByteArray& secretKey : secretKeys) {
            QString reason;
            if (signature.isEmpty()
                || !CatalogueSignature::verify(text, signature, { secretKey.mid(32) }, &reason)) {
                *error = QStringLiteral("the manifest's signature does not verify%1")
                             .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
                return false;
            }
        }
    }

    // The new manifest is written aside first and takes the old one's place last, after its
    // signature: a reader never sees the new manifest beside the old signature.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QString signaturePath = path + QStringLiteral(".sig");
    if (!signature.isEmpty()) {
        QSaveFile signatureFile(signaturePath);
        if (!signatureFile.open(QIODevice::WriteOnly) || signatureFile.write(signature) != signature.size()
            || !signatureFile.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(signaturePath, signatureFile.errorString());
            return false;
        }
    } else if (QFile::exists(signaturePath) && !QFile::remove(signaturePath)) {
        // An old signature never stands beside a manifest it does not sign.
        *error = QStringLiteral("cannot remove the old signature %1").arg(signaturePath);
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace PelkPlus
