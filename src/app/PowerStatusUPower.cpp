#include "app/PowerStatusUPower.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDebug>
#include <QVariant>
#include <QVariantMap>

namespace PelkPlus {

namespace {

const char upowerService[] = "org.freedesktop.UPower";
const char upowerPath[] = "/org/freedesktop/UPower";
const char upowerInterface[] = "org.freedesktop.UPower";
const char displayDevicePath[] = "/org/freedesktop/UPower/devices/DisplayDevice";
const char deviceInterface[] = "org.freedesktop.UPower.Device";
const char propertiesInterface[] = "org.freedesktop.DBus.Properties";

// UPower's device states; only these mean that something is putting charge in.
constexpr uint stateCharging = 1;
constexpr uint stateFullyCharged = 4;
constexpr uint statePendingCharge = 5;

QVariant unwrapped(const QVariant& value)
{
    return value.userType() == qMetaTypeId<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
}

} // namespace

PowerStatusUPower::PowerStatusUPower()
    : bus(QString())
    , useSystemBus(true)
{ }

PowerStatusUPower::PowerStatusUPower(const QDBusConnection& connection)
    : bus(connection)
{ }

PowerStatusUPower::~PowerStatusUPower() = default;

void PowerStatusUPower::unknown(const QString& why)
{
    if (absenceLogged)
        return;
    absenceLogged = true;
    qDebug().noquote() << "PowerStatusUPower:" << why
                       << "The computer's power is not checked before updates.";
}

PowerStatus::Reading PowerStatusUPower::read()
{
    Reading reading;
    // Most runs never update anything; they need no connection to the system bus.
    if (useSystemBus && !bus.isConnected())
        bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        unknown(QStringLiteral("No system bus."));
        return reading;
    }

    QDBusMessage onBatteryCall = QDBusMessage::createMethodCall(QString::fromLatin1(upowerService),
        QString::fromLatin1(upowerPath), QString::fromLatin1(propertiesInterface), QStringLiteral("Get"));
    onBatteryCall << QString::fromLatin1(upowerInterface) << QStringLiteral("OnBattery");
    const QDBusMessage onBatteryReply = bus.call(onBatteryCall, QDBus::Block, callTimeoutMs);
    if (onBatteryReply.type() != QDBusMessage::ReplyMessage || onBatteryReply.arguments().size() != 1) {
        unknown(QStringLiteral("No power service (%1).").arg(onBatteryReply.errorName()));
        return reading;
    }
    const QVariant onBattery = unwrapped(onBatteryReply.arguments().first());
    if (onBattery.userType() != QMetaType::Bool) {
        unknown(QStringLiteral("The power service's OnBattery is not a truth value."));
        return reading;
    }
    reading.known = true;
    reading.onBattery = onBattery.toBool();

    QDBusMessage deviceCall = QDBusMessage::createMethodCall(QString::fromLatin1(upowerService),
        QString::fromLatin1(displayDevicePath), QString::fromLatin1(propertiesInterface),
        QStringLiteral("GetAll"));
    deviceCall << QString::fromLatin1(deviceInterface);
    const QDBusMessage deviceReply = bus.call(deviceCall, QDBus::Block, callTimeoutMs);
    if (deviceReply.type() != QDBusMessage::ReplyMessage || deviceReply.arguments().size() != 1) {
        // On battery with a charge nobody tells: nothing to warn of by number.
        qDebug() << "PowerStatusUPower: No display device:" << deviceReply.errorName();
        return reading;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(deviceReply.arguments().first());
    const QVariant present = unwrapped(properties.value(QStringLiteral("IsPresent")));
    const QVariant state = unwrapped(properties.value(QStringLiteral("State")));
    const QVariant percentage = unwrapped(properties.value(QStringLiteral("Percentage")));
    if (present.userType() != QMetaType::Bool || !present.toBool())
        return reading;
    if (state.userType() == QMetaType::UInt) {
        const uint value = state.toUInt();
        reading.charging
            = value == stateCharging || value == stateFullyCharged || value == statePendingCharge;
    }
    if (percentage.userType() == QMetaType::Double) {
        const double value = percentage.toDouble();
        // A service that says more than all or less than nothing is not believed.
        if (value >= 0 && value <= 100)
            reading.percent = value;
    }
    return reading;
}

} // namespace PelkPlus
