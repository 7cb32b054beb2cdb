#include "workflow/CatalogueConsent.h"

#include "workflow/WorkflowQuestions.h"

#include <QDebug>

namespace PelkPlus {

QString CatalogueConsent::title()
{
    return QStringLiteral("Unsigned Update Catalogue");
}

QString CatalogueConsent::questionText()
{
    return QStringLiteral(
        "The update catalogue is not signed: no catalogue signing key is trusted, so nothing "
        "shows that its files are the ones the publisher released. They could have been "
        "changed on the way to this computer, and a changed file may leave the device "
        "unusable.\n\nInstall from this catalogue anyway?");
}

bool CatalogueConsent::allows(bool catalogueVerified, WorkflowQuestions* questions) const
{
    if (catalogueVerified || standing)
        return true;
    qDebug() << "CatalogueConsent: the catalogue is not signed; asking before the update.";
    const bool accepted = questions && questions->ask(title(), questionText());
    if (!accepted)
        qDebug() << "CatalogueConsent: update not started: installing from an unsigned catalogue was not "
                    "agreed to.";
    return accepted;
}

} // namespace PelkPlus
