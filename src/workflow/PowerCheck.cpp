#include "workflow/PowerCheck.h"

#include "app/PowerStatus.h"
#include "workflow/UpdateEstimate.h"
#include "workflow/WorkflowQuestions.h"

#include <QDebug>

#include <cmath>

namespace PelkPlus {

PowerCheck::PowerCheck(PowerStatus* owned)
    : status(owned)
{ }

PowerCheck::~PowerCheck()
{
    delete status;
}

void PowerCheck::setStatus(PowerStatus* replacement)
{
    if (replacement == status)
        return;
    delete status;
    status = replacement;
}

QString PowerCheck::title()
{
    return QStringLiteral("Low Battery");
}

QString PowerCheck::warning(const UpdateEstimate& estimate)
{
    if (!status)
        return QString();
    const PowerStatus::Reading reading = status->read();
    if (!PowerStatus::isLow(reading))
        return QString();
    return QStringLiteral("The computer is running on its battery at %1 % and nothing is charging it. The "
                          "update takes %2, and if the battery runs out before it ends, the device may be "
                          "left unusable until it is updated again.\n\nPlease plug the computer in before "
                          "you continue.")
        .arg(int(std::floor(reading.percent)))
        .arg(estimate.text());
}

bool PowerCheck::allows(const UpdateEstimate& estimate, WorkflowQuestions* questions)
{
    const QString text = warning(estimate);
    if (text.isEmpty())
        return true;
    qDebug() << "PowerCheck: on a low battery; asking before the update.";
    const bool goOn = questions && questions->confirm(title(), text);
    if (!goOn)
        qDebug() << "PowerCheck: update not started: the computer is on a low battery.";
    return goOn;
}

} // namespace PelkPlus
