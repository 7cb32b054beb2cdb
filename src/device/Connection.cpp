#include "device/Connection.h"

#include <QList>

namespace PelkPlus {

Connection::Connection(const QString& path, int model, const QString& serialNumber)
    : path(path)
    , model(model)
    , serialNumber(serialNumber)
{ }

bool operator==(const Connection& left, const Connection& right)
{
    return left.path == right.path && left.model == right.model;
}

bool operator!=(const Connection& left, const Connection& right)
{
    return !(left == right);
}

void registerConnectionMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<PelkPlus::Connection>("PelkPlus::Connection");
        qRegisterMetaType<PelkPlus::Connection>("Connection");
        qRegisterMetaType<QList<PelkPlus::Connection>>("QList<PelkPlus::Connection>");
        return true;
    }();
    Q_UNUSED(registered)
}

} // namespace PelkPlus
