#include "support/UpdateCatalogue.h"

#include "SimulatedDevice.h"
#include "support/HttpTestServer.h"
#include "update/CatalogueHeader.h"
#include "update/CatalogueSignature.h"

#include <QCryptographicHash>

namespace PelkPlus {

UpdateCatalogue::UpdateCatalogue(HttpTestServer* server)
    : httpServer(server)
{ }

QByteArray UpdateCatalogue::image(int size, const QString& version, quint32 seed)
{
    QByteArray bytes(size, '\0');
    quint32 state = seed;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    const QByteArray marker = SimulatedDevice::versionMarker(version);
    return bytes.replace(0, marker.size(), marker);
}

QByteArray UpdateCatalogue::dspText(const QByteArray& image)
{
    QByteArray text;
    text.reserve(image.size() * 5);
    for (char c : image)
        text += "0x" + QByteArray::number(quint8(c), 16).rightJustified(2, '0') + '\n';
    return text;
}

void UpdateCatalogue::addComponent(
    const QString& product, const QString& name, const QString& version, int size)
{
    Entry entry;
    entry.product = product;
    entry.name = name;
    entry.version = version;
    entry.path = QStringLiteral("/%1/%2-%3.bin")
                     .arg(product == QLatin1String("PELK") ? QStringLiteral("base") : QStringLiteral("plus"),
                         name.toLower(), version);
    entry.image = image(size, version, quint32(entryList.size() * 7919 + size));
    entry.served = name == QLatin1String("DSP") ? dspText(entry.image) : entry.image;
    entryList.append(entry);
}

void UpdateCatalogue::addFamilyComponents()
{
    addComponent(QStringLiteral("PELK"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    addComponent(QStringLiteral("PELK"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    addComponent(QStringLiteral("PELK"), QStringLiteral("Ensemble"), QStringLiteral("0x00020014"), 30000);
    addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("3.2.7"), 6000);
    addComponent(QStringLiteral("PELK+"), QStringLiteral("DSP"), QStringLiteral("3.1.2"), 1500);
    addComponent(QStringLiteral("PELK+"), QStringLiteral("Styles"), QStringLiteral("0x1A2B"), 20000);
    addComponent(QStringLiteral("PELK+"), QStringLiteral("Ensemble"), QStringLiteral("0x00020014"), 30000);
}

void UpdateCatalogue::addApplication(const QString& name, const QString& version)
{
    Entry entry;
    entry.product = QStringLiteral("Pelk Updater");
    entry.name = name;
    entry.version = version;
    entry.path
        = QStringLiteral("/updater/PelkUpdater-%1.%2")
              .arg(version, name == QLatin1String("Win") ? QStringLiteral("exe") : QStringLiteral("dmg"));
    entry.served = "installer " + version.toLatin1();
    entryList.append(entry);
}

QByteArray UpdateCatalogue::manifest() const
{
    QByteArray xml
        = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Family Name=\"PELK\" Updated=\"2024-05-02\"";
    if (publishedAt.isValid())
        xml += " Published=\"" + CatalogueHeader::timeText(publishedAt).toLatin1() + '"';
    if (expiresAt.isValid())
        xml += " Expires=\"" + CatalogueHeader::timeText(expiresAt).toLatin1() + '"';
    xml += ">\n" + keyStatement;
    QStringList products;
    for (const Entry& entry : entryList) {
        if (!products.contains(entry.product))
            products.append(entry.product);
    }
    for (const QString& product : products) {
        xml += "  <Product Name=\"" + product.toUtf8() + "\">\n    <Components>\n";
        for (const Entry& entry : entryList) {
            if (entry.product != product)
                continue;
            QUrl url = httpServer->url(entry.path);
            url.setUserInfo(urlUserInfo);
            xml += "      <Component Name=\"" + entry.name.toUtf8() + "\" Version=\"" + entry.version.toUtf8()
                + "\" ReleaseDate=\"2024-04-18\" URL=\"" + url.toEncoded() + '"';
            if (digests && !entry.image.isEmpty())
                xml += " SHA256=\""
                    + QCryptographicHash::hash(entry.served, QCryptographicHash::Sha256).toHex()
                    + "\" Size=\"" + QByteArray::number(entry.served.size()) + '"';
            xml += "/>\n";
        }
        xml += "    </Components>\n  </Product>\n";
    }
    xml += "</Family>\n";
    return xml;
}

void UpdateCatalogue::setValidity(const QDateTime& published, const QDateTime& expires)
{
    publishedAt = published;
    expiresAt = expires;
}

void UpdateCatalogue::publish()
{
    const QByteArray xml = manifest();
    httpServer->setFile(manifestPath(), xml);
    if (!signingKeys.isEmpty())
        httpServer->setFile(signaturePath(), CatalogueSignature::sign(xml, signingKeys));
    for (const Entry& entry : entryList)
        httpServer->setFile(entry.path, entry.served);
}

QUrl UpdateCatalogue::manifestUrl() const
{
    QUrl url = httpServer->url(manifestPath());
    url.setUserInfo(urlUserInfo);
    return url;
}

const UpdateCatalogue::Entry* UpdateCatalogue::find(const QString& product, const QString& name) const
{
    for (const Entry& entry : entryList) {
        if (entry.product == product && entry.name == name)
            return &entry;
    }
    return nullptr;
}

} // namespace PelkPlus
