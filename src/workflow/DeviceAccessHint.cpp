#include "workflow/DeviceAccessHint.h"

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

} // namespace PelkPlus
