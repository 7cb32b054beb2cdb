#pragma once

#include <QObject>
#include <QUrl>

class QSettings;

namespace PelkPlus {

// The single owner of the persistent settings: the layout version, checked and rewritten at every
// start, and the URL the update manifest is fetched from. One lives per process; it is reached
// through instance().
class ConfigurationManager : public QObject
{
public:
    // Thrown when a second manager is constructed while one is alive.
    struct Error
    {
    };

    static constexpr int CurrentSchemaVersion = 1;

    // Throws ConfigurationManager::Error when a manager already exists.
    explicit ConfigurationManager(QObject* parent = nullptr);
    ~ConfigurationManager() override;

    // The live manager, or null before the first and after the last one.
    static ConfigurationManager* instance();

    static QUrl defaultManifestUrl();
    // The stored URL (the default when none is stored, or the layout is older than this one's),
    // read without a manager and without writing anything: for a report while the window, which
    // owns the settings, runs.
    static QUrl storedManifestUrl();

    QUrl manifestUrl() const;
    void setManifestUrl(const QUrl& url);
    // Forgets a stored URL, so that manifestUrl() gives the default again.
    void resetManifestUrl();
    // A URL that manifestUrl() gives for the life of this manager instead of the stored one, without
    // writing it; an invalid URL withdraws it.
    void setRunManifestUrl(const QUrl& url);

private:
    Q_DISABLE_COPY(ConfigurationManager)

    QSettings* settingsStore = nullptr;
    QUrl runManifestUrl;
    static ConfigurationManager* s_instance;
};

} // namespace PelkPlus
