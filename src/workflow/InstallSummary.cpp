#include "workflow/InstallSummary.h"

namespace PelkPlus {

void InstallSummary::begin(const QList<ComponentType>& components)
{
    planned = components;
    taken.clear();
    refused.clear();
}

void InstallSummary::add(const Installed& component)
{
    taken.append(component);
}

void InstallSummary::addNotApplied(ComponentType type)
{
    refused.append(type);
}

QStringList InstallSummary::notInstalled() const
{
    QList<ComponentType> left = planned;
    for (const Installed& component : taken)
        left.removeOne(component.type);
    QStringList names;
    for (ComponentType type : qAsConst(left))
        names.append(componentTypeName(type));
    return names;
}

QString InstallSummary::completionText(const QList<Installed>& components)
{
    int verified = 0;
    QStringList unchecked;
    QStringList unchanged;
    for (const Installed& component : components) {
        if (component.confirmed) {
            ++verified;
            continue;
        }
        unchecked.append(componentTypeName(component.type));
        // A file of unknown version that left the device as it was may not have been taken: the
        // one thing the device's own word can tell.
        if (component.sent.isEmpty() && !component.reported.isEmpty()
            && component.reported == component.before)
            unchanged.append(
                QStringLiteral("%1 %2").arg(componentTypeName(component.type), component.reported));
    }
    const int count = int(components.size());
    const QString counted = QStringLiteral("%1 %2").arg(count).arg(
        count == 1 ? QStringLiteral("component") : QStringLiteral("components"));
    if (unchecked.isEmpty())
        return QStringLiteral("Update complete: %1 installed and verified.").arg(counted);
    // A file from this computer carries no version that the device's could be compared with.
    QString text = QStringLiteral("Update complete: %1 installed, %2 verified (no version known for: %3).")
                       .arg(counted)
                       .arg(verified)
                       .arg(unchecked.join(QStringLiteral(", ")));
    if (!unchanged.isEmpty())
        text += QStringLiteral(" The device still reports the version it had before: %1.")
                    .arg(unchanged.join(QStringLiteral(", ")));
    return text;
}

QString InstallSummary::failureText(const QStringList& notInstalled, UpdateFailure failure)
{
    const QString why = updateFailureText(failure == UpdateFailure::None ? UpdateFailure::Install : failure);
    if (notInstalled.isEmpty())
        return why;
    return QStringLiteral("Not installed: %1. %2").arg(notInstalled.join(QStringLiteral(", ")), why);
}

QString InstallSummary::backText(const QStringList& notInstalled, UpdateFailure failure)
{
    const QString why = updateFailureCause(failure == UpdateFailure::None ? UpdateFailure::Install : failure);
    if (notInstalled.isEmpty() || why.isEmpty())
        return failureText(notInstalled, failure);
    return QStringLiteral("Not installed: %1. %2").arg(notInstalled.join(QStringLiteral(", ")), why);
}

} // namespace PelkPlus
