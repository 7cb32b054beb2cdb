#include "workflow/DeviceAccessHint.h"

#include <QFile>
#include <QSettings>

namespace PelkPlus {

QString DeviceAccessHint::text(const QString& path)
{
    return QStringLiteral(
        "The device at %1 cannot be opened: this user account is not allowed to open it.\n\n"
        "The udev rule installed with the updater gives access to the user logged in at the "
        "computer itself, not to a session over ssh, a cron job or a service. Log in at the "
        "computer and start the updater there, or ask the administrator for access to the device.\n\n"
        "To check who may open it: ls -l %1 and getfacl %1")
        .arg(path);
}

QString DeviceAccessHint::waitingText(const QString& path)
{
    QString fix = sandboxText();
    if (fix.isEmpty()) {
        fix = QStringLiteral(
            "The udev rule installed with the updater (70-pelk-updater.rules) gives access to the user "
            "logged in at the computer itself: log in there and start the updater. Without a seat, a "
            "local udev rule with GROUP=\"plugdev\", MODE=\"0660\" and membership of that group do the "
            "same.\n\nTo check who may open it: ls -l %1 and getfacl %1")
                  .arg(path);
    }
    return QStringLiteral("The PELK device at %1 cannot be opened: this user account is not allowed to "
                          "open it.\n\n%2\n\nThe updater tries again every few seconds and goes on by "
                          "itself as soon as it may open the device.")
        .arg(path, fix);
}

QString DeviceAccessHint::sandboxText()
{
    const QString flatpakInfo = QStringLiteral("/.flatpak-info");
    if (QFile::exists(flatpakInfo)) {
        QString id = qEnvironmentVariable("FLATPAK_ID");
        if (id.isEmpty())
            id = QSettings(flatpakInfo, QSettings::IniFormat)
                     .value(QStringLiteral("Application/name"))
                     .toString();
        if (id.isEmpty())
            id = QStringLiteral("<application id>");
        return QStringLiteral("The updater runs in a Flatpak sandbox, which was not given access to the "
                              "device: it needs the device permission \"all\" (--device=all). To grant it: "
                              "flatpak override --user --device=all %1")
            .arg(id);
    }
    if (!qEnvironmentVariableIsEmpty("SNAP")) {
        QString name = qEnvironmentVariable("SNAP_NAME");
        if (name.isEmpty())
            name = QStringLiteral("<snap name>");
        return QStringLiteral("The updater runs as a snap, which was not given access to the device: it "
                              "needs its \"raw-usb\" interface connected. To connect it: "
                              "sudo snap connect %1:raw-usb")
            .arg(name);
    }
    return QString();
}

} // namespace PelkPlus
