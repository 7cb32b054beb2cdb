#pragma once

#include <QSignalTransition>

#include <functional>
#include <utility>

namespace PelkPlus {

// A signal transition taken only while its guard holds.
class GuardedTransition : public QSignalTransition
{
public:
    template <typename Signal>
    GuardedTransition(const typename QtPrivate::FunctionPointer<Signal>::Object* sender, Signal emitted,
        std::function<bool()> condition, QAbstractState* target)
        : QSignalTransition(sender, emitted)
        , guard(std::move(condition))
    {
        setTargetState(target);
    }
    ~GuardedTransition() override;

protected:
    bool eventTest(QEvent* event) override;

private:
    std::function<bool()> guard;
};

} // namespace PelkPlus
