#pragma once

#include <QObject>
#include <QSet>
#include <QStringList>

class QAbstractState;
class QState;
class QStateMachine;

namespace PelkPlus {

// Watches a state machine: every state entered and exited, in order, by object name, and the
// names of the states active now.
class StateTrail : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(StateTrail)

public:
    explicit StateTrail(QStateMachine* machine, QObject* parent = nullptr);
    ~StateTrail() override;

    QStateMachine* machine() const { return watched; }
    QAbstractState* state(const QString& name) const;

    // Names of the active states, regions and the machine's own top state included.
    QSet<QString> active() const;
    bool isActive(const QString& name) const;

    // "+name" for an entry, "-name" for an exit, in the order the machine made them.
    QStringList events() const { return trail; }
    // The names of the states entered, in order.
    QStringList entered() const;
    void clear() { trail.clear(); }

    // Whether the states were entered in this order (others may come between them), looking at
    // the entries from the given one on.
    bool enteredInOrder(const QStringList& names, int from = 0) const;

    // The state's transitions in the order they were added, as "sender.signal>target": the sender
    // by its object name or, where it has none, by its class; a plain transition, taken as soon as
    // the state is entered, as ">target", and a transition of any other kind as "?>target".
    static QStringList transitionsOf(const QState* state);

private:
    QStateMachine* watched;
    QStringList trail;
};

} // namespace PelkPlus
