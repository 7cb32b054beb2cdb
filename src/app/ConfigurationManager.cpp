#include "app/ConfigurationManager.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

namespace PelkPlus {

namespace {
const char versionKey[] = "version";
const char manifestUrlKey[] = "update/manifest-url";
const char trustedKeysKey[] = "update/trusted-keys";
const char revokedKeysKey[] = "update/revoked-keys";
const char defaultManifestUrlText[] = "http://updates.quellor.com/pelk/update-manifest.xml";
} // namespace

ConfigurationManager* ConfigurationManager::s_instance = nullptr;

const char* const ConfigurationManager::keptSettings[3] = { manifestUrlKey, trustedKeysKey, revokedKeysKey };

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
    const QString problem = settingsProblem();
    if (!problem.isEmpty()) {
        unreadable = true;
        qCritical().noquote() << "Configuration manager:" << problem;
        return;
    }
    // An older layout (an administrator's file without a version is one) keeps what says where
    // updates come from and which keys sign them; dropping the keys would trust a revoked one again.
    if (existingVersion < CurrentSchemaVersion) {
        for (const QString& key : settingsStore->allKeys()) {
            bool kept = false;
            for (const char* name : keptSettings)
                kept = kept || key == QLatin1String(name);
            if (!kept)
                settingsStore->remove(key);
        }
    }
    settingsStore->setValue(QLatin1String(versionKey), CurrentSchemaVersion);
    save();
}

QString ConfigurationManager::settingsProblem()
{
    const QSettings settings;
    const QFileInfo file(settings.fileName());
    if (settings.status() == QSettings::NoError && (!file.exists() || (file.isFile() && file.isReadable())))
        return QString();
    return QStringLiteral("The settings file %1 cannot be read, so the catalogue keys it trusts and revokes "
                          "(update/trusted-keys, update/revoked-keys) are not known; no update catalogue is "
                          "accepted until it is mended")
        .arg(settings.fileName());
}

void ConfigurationManager::save()
{
    if (unreadable)
        return;
    settingsStore->sync();
    const QString path = settingsStore->fileName();
    if (QFileInfo(path).isFile() && !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner))
        qCritical().noquote() << "Configuration manager: cannot close" << path << "to other users";
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
    if (unreadable)
        return;
    settingsStore->setValue(QLatin1String(manifestUrlKey), url);
    save();
}

void ConfigurationManager::resetManifestUrl()
{
    if (unreadable)
        return;
    settingsStore->remove(QLatin1String(manifestUrlKey));
    save();
}

void ConfigurationManager::setRunManifestUrl(const QUrl& url)
{
    runManifestUrl = url;
}

bool ConfigurationManager::setCatalogueKeys(
    const QStringList& trusted, const QStringList& revoked, QString* error)
{
    const QString problem = settingsProblem();
    if (unreadable || !problem.isEmpty()) {
        *error = problem.isEmpty()
            ? QStringLiteral("the settings file %1 could not be read at start").arg(settingsStore->fileName())
            : problem;
        return false;
    }
    // One text of keys separated by blanks, as an administrator writes them by hand.
    settingsStore->setValue(QLatin1String(trustedKeysKey), trusted.join(QLatin1Char(' ')));
    settingsStore->setValue(QLatin1String(revokedKeysKey), revoked.join(QLatin1Char(' ')));
    save();
    if (settingsStore->status() != QSettings::NoError) {
        *error = QStringLiteral("cannot write the settings file %1").arg(settingsStore->fileName());
        return false;
    }
    return true;
}

} // namespace PelkPlus
