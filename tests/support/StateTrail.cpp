#include "support/StateTrail.h"

#include <QAbstractState>
#include <QSignalTransition>
#include <QStateMachine>

namespace PelkPlus {

StateTrail::StateTrail(QStateMachine* machine, QObject* parent)
    : QObject(parent)
    , watched(machine)
{
    const auto states = machine->findChildren<QAbstractState*>();
    for (QAbstractState* state : states) {
        connect(state, &QAbstractState::entered, this,
            [this, state] { trail.append(QLatin1Char('+') + state->objectName()); });
        connect(state, &QAbstractState::exited, this,
            [this, state] { trail.append(QLatin1Char('-') + state->objectName()); });
    }
}

StateTrail::~StateTrail() = default;

QAbstractState* StateTrail::state(const QString& name) const
{
    return watched->findChild<QAbstractState*>(name);
}

QSet<QString> StateTrail::active() const
{
    QSet<QString> names;
    const auto configuration = watched->configuration();
    for (const QAbstractState* state : configuration)
        names.insert(state->objectName());
    return names;
}

bool StateTrail::isActive(const QString& name) const
{
    return active().contains(name);
}

QStringList StateTrail::entered() const
{
    QStringList names;
    for (const QString& event : trail) {
        if (event.startsWith(QLatin1Char('+')))
            names.append(event.mid(1));
    }
    return names;
}

bool StateTrail::enteredInOrder(const QStringList& names, int from) const
{
    const QStringList all = entered();
    int next = from;
    for (const QString& name : names) {
        next = all.indexOf(name, next);
        if (next < 0)
            return false;
        ++next;
    }
    return true;
}

QStringList StateTrail::transitionsOf(const QState* state)
{
    QStringList found;
    const auto transitions = state->transitions();
    for (const QAbstractTransition* transition : transitions) {
        QString trigger;
        if (const auto* signalTransition = qobject_cast<const QSignalTransition*>(transition)) {
            const QObject* sender = signalTransition->senderObject();
            QString senderName = sender->objectName();
            if (senderName.isEmpty())
                senderName = QString::fromLatin1(sender->metaObject()->className())
                                 .remove(QStringLiteral("PelkPlus::"));
            QByteArray signal = signalTransition->signal();
            if (signal.startsWith('0' + QSIGNAL_CODE))
                signal.remove(0, 1);
            trigger = senderName + QLatin1Char('.') + QString::fromLatin1(signal.left(signal.indexOf('(')));
        } else if (transition->metaObject() != &QAbstractTransition::staticMetaObject) {
            trigger = QStringLiteral("?");
        }
        const QString target = transition->targetStates().size() == 1
            ? transition->targetState()->objectName()
            : QStringLiteral("(%1 targets)").arg(transition->targetStates().size());
        found << trigger + QLatin1Char('>') + target;
    }
    return found;
}

} // namespace PelkPlus
