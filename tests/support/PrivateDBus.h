#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace PelkPlus {

// A D-Bus daemon of the test's own, listening on a socket in a private directory, and stand-in
// services on it made with python-dbusmock. Nothing here touches the machine's system or session
// bus. Both processes end with the object.
class PrivateDBus
{
public:
    PrivateDBus();
    ~PrivateDBus();

    // Whether dbus-daemon, and a Python with the dbusmock module, are on this machine.
    static bool daemonAvailable();
    static bool dbusmockAvailable();

    // Starts the daemon; address() is valid afterwards. False, with the reason in error, when it
    // does not come up.
    bool start(QString* error = nullptr);
    QString address() const { return busAddress; }

    // Starts "python3 -m dbusmock --template <name>" against this bus as both its system and its
    // session bus. The caller waits for the service's name to appear.
    bool startMock(const QString& templateName, QString* error = nullptr);
    // Starts "python3 -m dbusmock" with these arguments, as for a service without a template.
    bool startMock(const QStringList& arguments, QString* error = nullptr);
    void stopMock();

private:
    static QString python();

    QTemporaryDir directory;
    std::unique_ptr<QProcess> daemon;
    std::unique_ptr<QProcess> mock;
    QString busAddress;

    PrivateDBus(const PrivateDBus&) = delete;
    PrivateDBus& operator=(const PrivateDBus&) = delete;
};

} // namespace PelkPlus
