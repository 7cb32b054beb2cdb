#pragma once

#include "device/DeviceModel.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

namespace PelkPlus {

// One HID interface of a device of the family, as found on USB.
struct Connection
{
    QString path;
    int model = Base;
    QString serialNumber;
    // The USB port it is plugged into, which stays across its restart while its node may change;
    // empty where the backend does not tell.
    QString portPath;
    // The device's other HID interfaces (same model and serial number), in the order they are to be
    // tried when this one does not answer.
    QStringList otherInterfaces;

    Connection() = default;
    Connection(const QString& path, int model, const QString& serialNumber);
};

// The path and the model tell connections apart; the serial number does not, since it can be read
// differently from one enumeration to the next.
bool operator==(const Connection& left, const Connection& right);
bool operator!=(const Connection& left, const Connection& right);

// Registers Connection (under its qualified and its short name) and QList<Connection> for queued
// connections and signal spies. Safe to call more than once; the work is done on the first call.
void registerConnectionMetaTypes();

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::Connection)
