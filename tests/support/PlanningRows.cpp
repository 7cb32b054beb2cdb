#include "support/PlanningRows.h"

#include "support/HttpTestServer.h"
#include "support/UpdateCatalogue.h"
#include "update/CatalogueSignature.h"

#include <QDateTime>
#include <QSettings>

namespace PelkPlus {

SimulatedDeviceSettings planningDevice(const QString& name)
{
    SimulatedDeviceSettings settings;
    settings.model = name == QLatin1String("pelk") ? Base : Plus;
    settings.mcuWord = 0x0312;
    settings.dspWord = 0x0310;
    settings.stylesVersion = 0x0012;
    settings.ensembleVersion = 15;
    if (name == QLatin1String("pelk+ alpha 6.3"))
        settings.mcuWord = 0x0063;
    else if (name == QLatin1String("pelk+ alpha 6.4"))
        settings.mcuWord = 0x0064;
    return settings;
}

void publishPlanningManifest(HttpTestServer& server, const QStringList& components)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Family Name=\"PELK\">\n";
    QStringList products;
    for (const QString& component : components) {
        const QString product = component.section(QLatin1Char('|'), 0, 0);
        if (!products.contains(product))
            products.append(product);
    }
    for (const QString& product : qAsConst(products)) {
        xml += "<Product Name=\"" + product.toUtf8() + "\"><Components>\n";
        for (int i = 0; i < components.size(); ++i) {
            const QStringList fields = components.at(i).split(QLatin1Char('|'));
            if (fields.at(0) != product)
                continue;
            const QString path = QStringLiteral("/files/%1").arg(i);
            server.setFile(path, QByteArray(fields.at(3).toInt(), 'x'));
            xml += "<Component Name=\"" + fields.at(1).toUtf8() + "\" Version=\"" + fields.at(2).toUtf8()
                + "\" ReleaseDate=\"2024-04-18\" URL=\"" + server.url(path).toEncoded() + "\"/>\n";
        }
        xml += "</Components></Product>\n";
    }
    xml += "</Family>\n";
    server.setFile(UpdateCatalogue::manifestPath(), xml);
}

void publishSignedCatalogue(HttpTestServer& server, bool trusted)
{
    UpdateCatalogue catalogue(&server);
    catalogue.addComponent(QStringLiteral("PELK+"), QStringLiteral("MP"), QStringLiteral("0.6.5"), 2048);
    catalogue.setDigests(true);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    catalogue.setValidity(now, now.addDays(30));
    const CatalogueSignature::KeyPair key = CatalogueSignature::generateKeyPair();
    if (trusted) {
        QSettings().setValue(QStringLiteral("update/trusted-keys"),
            QString::fromLatin1(CatalogueSignature::encodeKey(key.publicKey)));
        catalogue.setSigningKeys({ key.secretKey });
    }
    catalogue.publish();
}

} // namespace PelkPlus
