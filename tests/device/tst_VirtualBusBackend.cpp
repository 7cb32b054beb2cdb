#include "device/HidBackend.h"
#include "device/VirtualBusBackend.h"
#include "support/TestEnvironment.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <thread>

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace PelkPlus;

namespace {

// What the scripted bus does once its pieces are sent.
enum class Afterwards {
    KeepReading, // takes whatever comes until the client closes
    HangUp,      // closes at once, as an unplugged device
    StopReading, // takes nothing more (gives up after stalledForMs, so a blocked client ends)
};
constexpr int stalledForMs = 15000;

// A bus that answers one connection from a script: after the request line it sends each piece in
// turn, pausing between them, then keeps the connection open until the client closes it.
class ScriptedBus
{
public:
    ScriptedBus(const QString& path, const QList<QByteArray>& pieces, int pauseMs,
        Afterwards afterwards = Afterwards::KeepReading)
    {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()) + 1);
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(listener, 1);
        peerThread = std::thread([this, pieces, pauseMs, afterwards] {
            const int client = ::accept(listener, nullptr, nullptr);
            char c = 0;
            while (::recv(client, &c, 1, 0) == 1 && c != '\n') { }
            for (const QByteArray& piece : pieces) {
                ::send(client, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            if (afterwards == Afterwards::StopReading) {
                pollfd hangUp { client, POLLRDHUP, 0 };
                ::poll(&hangUp, 1, stalledForMs);
            } else if (afterwards == Afterwards::KeepReading) {
                while (::recv(client, &c, 1, 0) > 0) { }
            }
            ::close(client);
        });
    }
    ~ScriptedBus()
    {
        peerThread.join();
        ::close(listener);
    }

private:
    int listener = -1;
    std::thread peerThread;
};

QStringList messages;
void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    messages.append(message);
}

} // namespace

// The virtual bus is part of the product binary: what a bus sends must not hold or swell it.
class tst_VirtualBusBackend : public QObject
{
    Q_OBJECT

private slots:
    void hostileBus_data();
    void hostileBus();
    void behavesLikeHidraw_data();
    void behavesLikeHidraw();
    void writeToDeviceTakingNothingFails();
    void choiceIsLogged();
};

void tst_VirtualBusBackend::hostileBus_data()
{
    QTest::addColumn<bool>("enumerate");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("expected"); // interfaces listed, or what the 200 ms read returns
    const QByteArray entry("sim/pelk-1\t1210\t0043\t");
    QTest::newRow("endless serial number")
        << true << QList<QByteArray> { entry + QByteArray(100000, 'S') + "\n\n" } << 0 << 0;
    QTest::newRow("an ordinary entry") << true << QList<QByteArray> { entry + "PK1\n\n" } << 0 << 1;
    QTest::newRow("report in slow pieces")
        << false
        << QList<QByteArray>(
               { "OK\n", QByteArray(16, 'r'), QByteArray(16, 'r'), QByteArray(16, 'r'), QByteArray(16, 'r') })
        << 120 << 0;
    QTest::newRow("report in quick pieces")
        << false << QList<QByteArray>({ "OK\n", QByteArray(32, 'r'), QByteArray(32, 'r') }) << 20 << 64;
}

void tst_VirtualBusBackend::hostileBus()
{
    QFETCH(bool, enumerate);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, pauseMs);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bus"));
    ScriptedBus bus(path, pieces, pauseMs);
    const HidBackend* backend = virtualBusBackend(QFile::encodeName(path).constData());
    if (enumerate) {
        HidDeviceEntry* entries = backend->enumerate(0x1210, 0);
        int listed = 0;
        for (HidDeviceEntry* entry = entries; entry; entry = entry->next)
            ++listed;
        backend->freeEnumeration(entries);
        QCOMPARE(listed, expected);
        return;
    }
    HidDevice* device = backend->openPath("sim/pelk-1");
    QVERIFY(device);
    unsigned char report[64] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(backend->readTimeout(device, report, sizeof(report), 200), expected);
    // One time-out for the whole read, however the report is cut.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    backend->close(device);
}

enum class HidrawCase { ReplyQueuedAtHangUp, OpenRefusedForAccess, OpenOfUnknownPath };

void tst_VirtualBusBackend::behavesLikeHidraw_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("expected"); // what the read returns, or errno of the failed open

    // hidraw fails the read of a device that hung up, however much it had queued.
    QTest::newRow("reply queued at hang-up is lost")
        << int(HidrawCase::ReplyQueuedAtHangUp) << QList<QByteArray> { "OK\n", QByteArray(64, 'r') } << -1;
    QTest::newRow("open refused for want of access")
        << int(HidrawCase::OpenRefusedForAccess) << QList<QByteArray> { "ERR permission denied\n" } << EACCES;
    QTest::newRow("open of a path not on the bus")
        << int(HidrawCase::OpenOfUnknownPath) << QList<QByteArray> { "ERR no such device\n" } << ENOENT;
}

void tst_VirtualBusBackend::behavesLikeHidraw()
{
    QFETCH(int, which);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bus"));
    const auto kase = HidrawCase(which);
    ScriptedBus bus(path, pieces, 50,
        kase == HidrawCase::ReplyQueuedAtHangUp ? Afterwards::HangUp : Afterwards::KeepReading);
    const HidBackend* backend = virtualBusBackend(QFile::encodeName(path).constData());
    errno = 0;
    HidDevice* device = backend->openPath("sim/pelk-1");
    if (kase != HidrawCase::ReplyQueuedAtHangUp) {
        QCOMPARE(errno, expected);
        QVERIFY(!device);
        return;
    }
    QVERIFY(device);
    // The reply and the hang-up are both there before the read.
    QTest::qWait(200);
    unsigned char report[64] = {};
    QCOMPARE(backend->readTimeout(device, report, sizeof(report), 200), expected);
    backend->close(device);
}

void tst_VirtualBusBackend::writeToDeviceTakingNothingFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bus"));
    ScriptedBus bus(path, { "OK\n" }, 0, Afterwards::StopReading);
    const HidBackend* backend = virtualBusBackend(QFile::encodeName(path).constData());
    HidDevice* device = backend->openPath("sim/pelk-1");
    QVERIFY(device);
    unsigned char report[65] = {};
    int written = 0;
    int result = 0;
    QElapsedTimer clock;
    // The buffers on the way take a few reports; then a write waits for the device and gives up.
    while (written < 10000) {
        clock.start();
        result = backend->write(device, report, sizeof(report));
        if (result != int(sizeof(report)))
            break;
        ++written;
    }
    const qint64 waited = clock.elapsed();
    backend->close(device);
    QCOMPARE(result, -1);
    QVERIFY(written > 0);
    QVERIFY2(waited >= 4500 && waited < 8000, qPrintable(QString::number(waited)));
}

void tst_VirtualBusBackend::choiceIsLogged()
{
    qputenv("PELK_HIDSIM_SOCKET", "/run/user/0/pelk-bus");
    setHidBackend(nullptr);
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    hidBackend();
    hidBackend();
    qInstallMessageHandler(previous);
    setHidBackend(nullptr);
    QCOMPARE(messages,
        QStringList { "HidBackend: Using the virtual bus instead of USB: \"/run/user/0/pelk-bus\"" });
}

PELK_TEST_MAIN(tst_VirtualBusBackend, PelkPlus::ConsoleTest)

#include "tst_VirtualBusBackend.moc"
