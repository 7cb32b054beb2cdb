#include "app/ApplicationIdentity.h"

#include <QCoreApplication>

namespace PelkPlus {

void ApplicationIdentity::setNames(QCoreApplication& application)
{
    application.setApplicationName(QStringLiteral("Pelk Updater"));
    application.setOrganizationDomain(QString::fromLatin1(organizationDomain()));
    application.setOrganizationName(QStringLiteral("Quellor"));
}

} // namespace PelkPlus
