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

    m_settings = new QSettings(this);
    qDebug() << "Configuration manager: current version:" << CurrentSchemaVersion;
    const int existingVersion = m_settings->value(QLatin1String(versionKey), 0).toInt();
    qDebug() << "Configuration manager: existing version:" << existingVersion;
    // Settings of an older layout cannot be read safely by this one; start afresh.
    if (existingVersion < CurrentSchemaVersion)
        m_settings->clear();
    m_settings->setValue(QLatin1String(versionKey), CurrentSchemaVersion);
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
    if (m_runManifestUrl.isValid())
        return m_runManifestUrl;
    const QVariant value = m_settings->value(QLatin1String(manifestUrlKey));
    if (!value.isValid())
        return defaultManifestUrl();
    return value.toUrl();
}

void ConfigurationManager::setManifestUrl(const QUrl& url)
{
    m_settings->setValue(QLatin1String(manifestUrlKey), url);
}

void ConfigurationManager::resetManifestUrl()
{
    m_settings->remove(QLatin1String(manifestUrlKey));
}

void ConfigurationManager::setRunManifestUrl(const QUrl& url)
{
    m_runManifestUrl = url;
}

} // namespace PelkPlus
