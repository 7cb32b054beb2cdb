#include "app/ConfigurationManager.h"

#include <QDebug>
#include <QSettings>
#include <QVariant>

namespace PelkPlus {

namespace {
const char versionKey[] = "version";
const char manifestUrlKey[] = "update/manifest-url";
const char defaultManifestUrlText[] = "http://updates.quellor.com/pelk/update-manifest.xml";
} // namespace

ConfigurationManager* ConfigurationManager::s_instance = nullptr;

ConfigurationManager::ConfigurationManager(QObject* parent)
    : QObject(parent)
{
    if (s_instance)
        throw Error();
    s_instance = this;

    settingsStore = new QSettings(this);
    qDebug() << "Configuration manager: current version:" << CurrentSchemaVersion;
    const int existingVersion = settingsStore->value(QLatin1String(versionKey), 0).toInt();
    qDebug() << "Configuration manager: existing version:" << existingVersion;
    // Settings of an older layout cannot be read safely by this one; start afresh.
    if (existingVersion < CurrentSchemaVersion)
        settingsStore->clear();
    settingsStore->setValue(QLatin1String(versionKey), CurrentSchemaVersion);
}

ConfigurationManager::~ConfigurationManager()
{
    if (s_instance == this)
        s_instance = nullptr;
}

ConfigurationManager* ConfigurationManager::instance()
{
    return s_instance;
}

QUrl ConfigurationManager::defaultManifestUrl()
{
    return QUrl(QString::fromLatin1(defaultManifestUrlText), QUrl::TolerantMode);
}

QUrl ConfigurationManager::storedManifestUrl()
{
    const QSettings settings;
    if (settings.value(QLatin1String(versionKey), 0).toInt() < CurrentSchemaVersion)
        return defaultManifestUrl();
    const QVariant value = settings.value(QLatin1String(manifestUrlKey));
    return value.isValid() ? value.toUrl() : defaultManifestUrl();
}

QUrl ConfigurationManager::manifestUrl() const
{
    if (runManifestUrl.isValid())
        return runManifestUrl;
    const QVariant value = settingsStore->value(QLatin1String(manifestUrlKey));
    if (!value.isValid())
        return defaultManifestUrl();
    return value.toUrl();
}

void ConfigurationManager::setManifestUrl(const QUrl& url)
{
    settingsStore->setValue(QLatin1String(manifestUrlKey), url);
}

void ConfigurationManager::resetManifestUrl()
{
    settingsStore->remove(QLatin1String(manifestUrlKey));
}

void ConfigurationManager::setRunManifestUrl(const QUrl& url)
{
    runManifestUrl = url;
}

} // namespace PelkPlus
