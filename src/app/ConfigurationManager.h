#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

class QSettings;

namespace PelkPlus {

// The single owner of the persistent settings: the layout version, checked and rewritten at every
// start, and the URL the update manifest is fetched from. One lives per process; it is reached
// through instance().
//
// The same file holds the catalogue keys an administrator trusts and revokes (update/trusted-keys,
// update/revoked-keys), which the update check reads itself. A file of an older layout keeps them
// and the URL; one that cannot be read is never written over, and refuses every catalogue until
// it is mended (settingsProblem()). The file is the user's alone (0600).
class ConfigurationManager : public QObject
{
public:
    // Thrown when a second manager is constructed while one is alive.
    struct Error
    {
    };

    static constexpr int CurrentSchemaVersion = 1;
    // What an older layout carries over into this one.
    static const char* const keptSettings[3];

    // Throws ConfigurationManager::Error when a manager already exists.
    explicit ConfigurationManager(QObject* parent = nullptr);
    ~ConfigurationManager() override;

    // The live manager, or null before the first and after the last one.
    static ConfigurationManager* instance();

    static QUrl defaultManifestUrl();
    // The stored URL (the default when none is stored),
    // read without a manager and without writing anything: for a report while the window, which
    // owns the settings, runs.
    static QUrl storedManifestUrl();

    // Why the settings file cannot be trusted to say which catalogue keys are trusted and revoked,
    // naming the file; empty when it was read. Read anew, without a manager and without writing.
    static QString settingsProblem();

    QUrl manifestUrl() const;
    void setManifestUrl(const QUrl& url);
    // Forgets a stored URL, so that manifestUrl() gives the default again.
    void resetManifestUrl();
    // A URL that manifestUrl() gives for the life of this manager instead of the stored one, without
    // writing it; an invalid URL withdraws it.
    void setRunManifestUrl(const QUrl& url);

    // Replaces the catalogue keys trusted and revoked (update/trusted-keys, update/revoked-keys) with
    // these texts, as a key statement of the publisher asks; false, with the reason, while the file
    // cannot be read (it is not written then) or when it cannot be written.
    bool setCatalogueKeys(const QStringList& trusted, const QStringList& revoked, QString* error);

private:
    Q_DISABLE_COPY(ConfigurationManager)

    // Writes what was set to the file and keeps it closed to others; nothing while the file could
    // not be read, which would be replaced by what little was read of it.
    void save();

    QSettings* settingsStore = nullptr;
    QUrl runManifestUrl;
    bool unreadable = false;
    static ConfigurationManager* s_instance;
};

} // namespace PelkPlus
