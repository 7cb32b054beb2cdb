// GLib's headers name struct members "signals", which Qt's keyword macros would rewrite.
#define QT_NO_KEYWORDS

#include "support/HidrawTestbed.h"

#include "support/UmockdevPreload.h"

#include "device/DeviceModel.h"

#include <QFile>

#include <umockdev.h>

#include <cerrno>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <linux/hidraw.h>
#include <mutex>
#include <set>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace PelkPlus {

namespace {

constexpr int reportSize = 65;
constexpr int inputSize = 64;
// Let the host's last writes land before a device that asked to be rebooted drops off.
constexpr int rebootDelayMs = 50;
// A full-speed interrupt endpoint takes one report per frame.
constexpr gint64 frameUs = 1000;

// Vendor-defined usage page, one application collection with 64-byte input and output reports.
QByteArray reportDescriptor(int nested, int firstUsage)
{
    QByteArray d = QByteArray::fromHex("0600ff") + QByteArray::fromHex("09") + char(firstUsage)
        + QByteArray::fromHex("a101");
    for (int i = 0; i < nested; ++i)
        d += QByteArray::fromHex("09") + char(firstUsage + 1 + i) + QByteArray::fromHex("a100");
    d += QByteArray::fromHex("0920150026ff00750895408102");
    d += QByteArray::fromHex("0921150026ff00750895409102");
    for (int i = 0; i < nested; ++i)
        d += QByteArray::fromHex("c0");
    d += QByteArray::fromHex("c0");
    return d;
}

QByteArray hexWord(unsigned value)
{
    return QByteArray::number(value, 16).rightJustified(4, '0');
}

struct Call
{
    std::function<void()> f;
    std::promise<void> done;
};

gboolean runCall(gpointer data)
{
    auto* call = static_cast<Call*>(data);
    call->f();
    call->done.set_value();
    return G_SOURCE_REMOVE;
}

QList<QByteArray> directoryEntries(const QByteArray& path)
{
    QList<QByteArray> names;
    const int fd = int(syscall(SYS_openat, AT_FDCWD, path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0)
        return names;
    alignas(8) char buffer[8192];
    for (;;) {
        const long length = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
        if (length <= 0)
            break;
        for (long at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            names.append(QByteArray(entry->d_name));
            at += entry->d_reclen;
        }
    }
    syscall(SYS_close, fd);
    return names;
}

QByteArray fileContents(const QByteArray& path)
{
    QByteArray contents;
    const int fd = int(syscall(SYS_openat, AT_FDCWD, path.constData(), O_RDONLY | O_CLOEXEC));
    if (fd < 0)
        return contents;
    char buffer[4096];
    for (;;) {
        const long length = syscall(SYS_read, fd, buffer, sizeof(buffer));
        if (length <= 0)
            break;
        contents.append(buffer, int(length));
    }
    syscall(SYS_close, fd);
    return contents;
}

void sleepUntil(gint64 monotonicUs)
{
    const gint64 now = g_get_monotonic_time();
    if (monotonicUs <= now)
        return;
    const timespec pause { time_t((monotonicUs - now) / 1000000),
        long((monotonicUs - now) % 1000000) * 1000 };
    nanosleep(&pause, nullptr);
}

} // namespace

struct HidrawTestbed::Private
{
    struct HidrawNode;
    struct HidrawEntry
    {
        SimulatedDevice device;
        Layout layout;
        bool plugged = false;
        int port = 0;
        std::vector<HidrawNode*> nodes;
        // Every sysfs device of the current plug, parents first.
        std::vector<QByteArray> sysPaths;
        QList<int> numbers;
        guint returnSource = 0;
        gint64 lastTakenUs = 0;
        gint64 lastFrame = 0;
        bool taking = true;
        int opens = 0;
        int reports = 0;
    };

    struct HidrawNode
    {
        Private* owner = nullptr;
        int index = -1;
        int interfaceNumber = 0;
        int number = 0;
        QByteArray devnode;
        QByteArray ptyPath;
        dev_t ptyDevice = 0;
        QByteArray descriptor;
        UMockdevIoctlBase* handler = nullptr;
        // The pty behind the node: one byte waits in it per queued input report, so that poll(), which
        // the preload does not emulate, tells the truth about the node.
        int server = -1;
        int peer = -1;
        std::deque<QByteArray> inbox;
        UMockdevIoctlClient* pendingRead = nullptr;
        // Writes held while the device takes no reports, with the source that fails them in time.
        std::vector<std::pair<UMockdevIoctlClient*, guint>> heldWrites;
        bool gone = false;
    };

    HidrawTestbed* self = nullptr;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GThread* thread = nullptr;
    UMockdevTestbed* testbed = nullptr;
    QString root;
    QString error;
    guint idleSource = 0;
    std::vector<std::unique_ptr<HidrawEntry>> entries;
    // Nodes outlive their devices: a program may hold one open after the unplug.
    std::vector<std::unique_ptr<HidrawNode>> nodes;
    int nextHidId = 1;
    Observer observer;
    mutable std::mutex eventsLock;
    QStringList events;

    void run(const std::function<void()>& f)
    {
        if (g_main_context_is_owner(context)) {
            f();
            return;
        }
        Call call { f, {} };
        std::future<void> done = call.done.get_future();
        g_main_context_invoke(context, runCall, &call);
        done.wait();
    }

    void say(const QString& line)
    {
        std::lock_guard<std::mutex> locker(eventsLock);
        events.append(line);
    }

    HidrawEntry& entry(int index) { return *entries.at(size_t(index)); }

    int freeNumber(int avoided = -1) const;
    bool heldOpen(const HidrawNode& node) const;
    bool seesTestbed(const QByteArray& pid) const;
    void plug(int index);
    void unplug(int index);
    void scheduleReturn(int index, int ms);
    void addNode(
        int index, int interfaceNumber, const QByteArray& interfacePath, const SimulatedDevice::Settings& s);
    void take(HidrawNode& node, UMockdevIoctlClient* client, const QByteArray& report);
    void queueReply(HidrawNode& node, const QByteArray& reply);
    void serveRead(HidrawNode& node);
    void handleRequest(int index, SimulatedDevice::Request request);
    void notify(int index, Stage stage, const QByteArray& report);
    void releaseHeldWrites(HidrawNode& node, int errorNumber);

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean onIdle(gpointer data);
    static gboolean failHeldWrite(gpointer data);

    struct HeldWrite
    {
        HidrawNode* node;
        UMockdevIoctlClient* client;
    };
};

gboolean HidrawTestbed::Private::failHeldWrite(gpointer data)
{
    auto* held = static_cast<HeldWrite*>(data);
    HidrawNode& node = *held->node;
    for (auto it = node.heldWrites.begin(); it != node.heldWrites.end(); ++it) {
        if (it->first == held->client) {
            // usbhid gives up on an interrupt transfer the device does not take.
            umockdev_ioctl_client_complete(held->client, -1, ETIMEDOUT);
            g_object_unref(held->client);
            node.heldWrites.erase(it);
            break;
        }
    }
    return G_SOURCE_REMOVE;
}

void HidrawTestbed::Private::notify(int index, Stage stage, const QByteArray& report)
{
    if (const Observer copy = observer)
        copy(*self, index, stage, report);
}

gboolean HidrawTestbed::Private::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto& node = *static_cast<HidrawNode*>(data);
    Private& d = *node.owner;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (node.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    GError* error = nullptr;
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* size = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error);
        int value = node.descriptor.size();
        if (size)
            umockdev_ioctl_data_update(size, 0, reinterpret_cast<guint8*>(&value), sizeof(value));
        umockdev_ioctl_client_complete(client, size ? 0 : -1, size ? 0 : EFAULT);
        g_clear_error(&error);
        if (node.interfaceNumber == 0) {
            d.entry(node.index).opens++;
            d.say(QStringLiteral("%1: opened").arg(QString::fromLatin1(node.devnode)));
            d.notify(node.index, Stage::Opened, QByteArray());
        }
        return TRUE;
    }
    if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor {};
        descriptor.size = quint32(node.descriptor.size());
        memcpy(descriptor.value, node.descriptor.constData(), size_t(node.descriptor.size()));
        UMockdevIoctlData* out = umockdev_ioctl_data_resolve(arg, 0, sizeof(descriptor), &error);
        if (out)
            umockdev_ioctl_data_update(out, 0, reinterpret_cast<guint8*>(&descriptor), sizeof(descriptor));
        umockdev_ioctl_client_complete(client, out ? 0 : -1, out ? 0 : EFAULT);
        g_clear_error(&error);
        return TRUE;
    }
    if (request == HIDIOCGRAWINFO) {
        const SimulatedDevice::Settings& s = d.entry(node.index).device.settings();
        hidraw_devinfo info { 3 /* BUS_USB */, qint16(pelkVendorId), qint16(productIdForModel(s.model)) };
        UMockdevIoctlData* out = umockdev_ioctl_data_resolve(arg, 0, sizeof(info), &error);
        if (out)
            umockdev_ioctl_data_update(out, 0, reinterpret_cast<guint8*>(&info), sizeof(info));
        umockdev_ioctl_client_complete(client, out ? 0 : -1, out ? 0 : EFAULT);
        g_clear_error(&error);
        return TRUE;
    }
    // Feature reports and the rest: this device has none.
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return TRUE;
}

gboolean HidrawTestbed::Private::onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto& node = *static_cast<HidrawNode*>(data);
    if (node.gone) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    if (node.pendingRead) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    // A read without a report waits for one, as hidraw's blocking read does.
    node.pendingRead = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
    node.owner->serveRead(node);
    return TRUE;
}

gboolean HidrawTestbed::Private::onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto& node = *static_cast<HidrawNode*>(data);
    Private& d = *node.owner;
    if (node.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    guint8* bytes = nullptr;
    int length = 0;
    // The bytes come as a copy of the caller's.
    umockdev_ioctl_data_retrieve(umockdev_ioctl_client_get_arg(client), &bytes, &length);
    const QByteArray report(reinterpret_cast<const char*>(bytes), length);
    g_free(bytes);
    HidrawEntry& entry = d.entry(node.index);
    if (!entry.taking) {
        auto* held = new HeldWrite { &node, UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)) };
        GSource* source = g_timeout_source_new(guint(writeTimeoutMs));
        // Freed with the source, whether it fires or the write is released first.
        g_source_set_callback(
            source, failHeldWrite, held, [](gpointer data) { delete static_cast<HeldWrite*>(data); });
        const guint id = g_source_attach(source, d.context);
        g_source_unref(source);
        node.heldWrites.emplace_back(held->client, id);
        return TRUE;
    }
    d.take(node, client, report);
    return TRUE;
}

void HidrawTestbed::Private::take(HidrawNode& node, UMockdevIoctlClient* client, const QByteArray& report)
{
    HidrawEntry& entry = this->entry(node.index);
    if (entry.device.settings().paced) {
        // The host's write returns when the device has taken the report: at the next frame
        // boundary after it came, one report per frame.
        const gint64 frame = qMax((g_get_monotonic_time() + frameUs - 1) / frameUs, entry.lastFrame + 1);
        sleepUntil(frame * frameUs);
        entry.lastFrame = frame;
    }
    entry.lastTakenUs = g_get_monotonic_time();
    umockdev_ioctl_client_complete(client, report.size(), 0);
    if (node.interfaceNumber != 0)
        return; // only the first interface speaks the update protocol
    ++entry.reports;
    QVector<QByteArray> replies;
    const SimulatedDevice::Request request = entry.device.receive(report, entry.lastTakenUs / 1000, replies);
    for (const QByteArray& reply : replies)
        queueReply(node, reply);
    handleRequest(node.index, request);
    notify(node.index, Stage::ReportTaken, report);
}

void HidrawTestbed::Private::queueReply(HidrawNode& node, const QByteArray& reply)
{
    if (node.gone)
        return;
    node.inbox.push_back(reply.left(inputSize));
    const char mark = 'r';
    if (write(node.server, &mark, 1) != 1)
        say(QStringLiteral("%1: cannot mark a queued report").arg(QString::fromLatin1(node.devnode)));
    serveRead(node);
}

void HidrawTestbed::Private::serveRead(HidrawNode& node)
{
    if (!node.pendingRead || node.inbox.empty())
        return;
    UMockdevIoctlClient* client = node.pendingRead;
    node.pendingRead = nullptr;
    QByteArray reply = node.inbox.front();
    node.inbox.pop_front();
    char mark;
    if (read(node.peer, &mark, 1) != 1)
        say(QStringLiteral("%1: no mark for a report handed out").arg(QString::fromLatin1(node.devnode)));
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    guint8* bytes = nullptr;
    int capacity = 0;
    umockdev_ioctl_data_retrieve(buffer, &bytes, &capacity);
    g_free(bytes);
    const int length = qMin(capacity, reply.size());
    umockdev_ioctl_data_update(buffer, 0, reinterpret_cast<guint8*>(reply.data()), length);
    umockdev_ioctl_client_complete(client, length, 0);
    g_object_unref(client);
}

void HidrawTestbed::Private::releaseHeldWrites(HidrawNode& node, int errorNumber)
{
    for (auto& held : node.heldWrites) {
        g_source_destroy(g_main_context_find_source_by_id(context, held.second));
        umockdev_ioctl_client_complete(held.first, -1, errorNumber);
        g_object_unref(held.first);
    }
    node.heldWrites.clear();
}

void HidrawTestbed::Private::handleRequest(int index, SimulatedDevice::Request request)
{
    HidrawEntry& e = entry(index);
    if (request == SimulatedDevice::Request::Unplug) {
        unplug(index);
    } else if (request == SimulatedDevice::Request::Reboot) {
        say(QStringLiteral("device %1: rebooting").arg(index));
        struct Reboot
        {
            Private* d;
            int index;
        };
        auto* reboot = new Reboot { this, index };
        GSource* source = g_timeout_source_new(rebootDelayMs);
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                auto* r = static_cast<Reboot*>(data);
                HidrawEntry& rebooting = r->d->entry(r->index);
                r->d->unplug(r->index);
                if (rebooting.device.settings().comeBackAfterReboot)
                    r->d->scheduleReturn(r->index, rebooting.device.settings().rebootMs);
                else
                    r->d->say(QStringLiteral("device %1: does not come back").arg(r->index));
                return G_SOURCE_REMOVE;
            },
            reboot, [](gpointer data) { delete static_cast<Reboot*>(data); });
        g_source_attach(source, context);
        g_source_unref(source);
    }
    Q_UNUSED(e)
}

void HidrawTestbed::Private::scheduleReturn(int index, int ms)
{
    HidrawEntry& e = entry(index);
    if (e.returnSource)
        g_source_destroy(g_main_context_find_source_by_id(context, e.returnSource));
    struct Return
    {
        Private* d;
        int index;
    };
    GSource* source = g_timeout_source_new(guint(ms));
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* r = static_cast<Return*>(data);
            HidrawEntry& back = r->d->entry(r->index);
            back.returnSource = 0;
            back.device.restarted();
            r->d->plug(r->index);
            return G_SOURCE_REMOVE;
        },
        new Return { this, index }, [](gpointer data) { delete static_cast<Return*>(data); });
    e.returnSource = g_source_attach(source, context);
    g_source_unref(source);
}

void HidrawTestbed::Private::addNode(
    int index, int interfaceNumber, const QByteArray& interfacePath, const SimulatedDevice::Settings& s)
{
    HidrawEntry& e = entry(index);
    const QByteArray product = hexWord(productIdForModel(s.model));
    const QByteArray hidName
        = "0003:1210:" + product.toUpper() + '.' + hexWord(unsigned(nextHidId++)).toUpper();
    const QByteArray hidPath = interfacePath + '/' + hidName;
    auto node = std::make_unique<HidrawNode>();
    node->owner = this;
    node->index = index;
    node->interfaceNumber = interfaceNumber;
    // A device set to come back on another path returns on another number than the one it left.
    const bool elsewhere = interfaceNumber == 0 && !s.returnPath.isEmpty() && !e.numbers.isEmpty();
    node->number = freeNumber(elsewhere ? e.numbers.last() : -1);
    node->devnode = "/dev/hidraw" + QByteArray::number(node->number);
    node->descriptor = interfaceNumber == 0 ? reportDescriptor(e.layout.nestedCollections, 1)
                                            : reportDescriptor(0, 0x40 + interfaceNumber);
    const QByteArray name = s.model == Plus ? "Quellor Pelk+" : "Quellor Pelk";
    const QByteArray hid = "P: " + hidPath + "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=0003:0000"
        + QByteArray("1210") + ":0000" + product.toUpper() + "\nE: HID_NAME=" + name
        + "\nE: HID_PHYS=usb-0000:00:14.0-" + QByteArray::number(e.port) + "/input"
        + QByteArray::number(interfaceNumber) + "\nE: HID_UNIQ=" + s.serialNumber.toUtf8()
        + "\nE: MODALIAS=hid:b0003g0001v00001210p0000" + product.toUpper()
        + "\nH: report_descriptor=" + node->descriptor.toHex() + "\n\n";
    // The node is a pty of the testbed's own rather than one umockdev makes, which it would not
    // make twice under one name: a device that comes back may get the number it had.
    // Never blocking: marks of replies nobody reads must not stall the testbed's thread.
    node->server = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (node->server < 0 || grantpt(node->server) != 0 || unlockpt(node->server) != 0) {
        say(QStringLiteral("cannot make a pty for %1").arg(QString::fromLatin1(node->devnode)));
        return;
    }
    node->ptyPath = ptsname(node->server);
    node->peer = open(node->ptyPath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios rawMode {};
    if (node->peer >= 0 && tcgetattr(node->peer, &rawMode) == 0) {
        cfmakeraw(&rawMode);
        tcsetattr(node->peer, TCSANOW, &rawMode);
    }
    // hidapi's string getters look the node up by the numbers fstat() gives for the open node,
    // which are the pty's.
    struct stat status
    {
    };
    QByteArray numbers = "0:0";
    if (node->peer >= 0 && fstat(node->peer, &status) == 0)
        node->ptyDevice = status.st_rdev;
    if (node->ptyDevice)
        numbers
            = QByteArray::number(major(node->ptyDevice)) + ':' + QByteArray::number(minor(node->ptyDevice));

    const QByteArray rawName = "hidraw" + QByteArray::number(node->number);
    const QByteArray rawPath = hidPath + "/hidraw/" + rawName;
    const QByteArray raw = "P: " + rawPath + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" + node->devnode
        + "\nE: MAJOR=" + numbers.left(numbers.indexOf(':'))
        + "\nE: MINOR=" + numbers.mid(numbers.indexOf(':') + 1) + "\nA: dev=" + numbers
        + "\nL: device=../../../" + hidName + "\n\n";
    const QByteArray nodeLink = root.toLocal8Bit() + node->devnode;
    mkdir((root.toLocal8Bit() + "/dev").constData(), 0755); // before the first device's entries
    unlink(nodeLink.constData());
    if (symlink(node->ptyPath.constData(), nodeLink.constData()) != 0)
        say(QStringLiteral("cannot make %1").arg(QString::fromLatin1(node->devnode)));

    // A node of that name from before (its device gone, nobody holding it) gives up its socket.
    for (auto& old : nodes) {
        if (old->devnode == node->devnode && old->handler) {
            umockdev_testbed_detach_ioctl(testbed, old->devnode.constData(), nullptr);
            g_object_unref(old->handler);
            old->handler = nullptr;
        }
    }
    GError* error = nullptr;
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(onIoctl), node.get());
    g_signal_connect(node->handler, "handle-read", G_CALLBACK(onRead), node.get());
    g_signal_connect(node->handler, "handle-write", G_CALLBACK(onWrite), node.get());
    if (!umockdev_testbed_attach_ioctl(testbed, node->devnode.constData(), node->handler, &error)) {
        say(QStringLiteral("cannot serve %1: %2")
                .arg(QString::fromLatin1(node->devnode), QString::fromUtf8(error->message)));
        g_clear_error(&error);
    }
    // Its sysfs entries last, once the node and its handler are there: a program that enumerates
    // while the device is being added (the monitor's poll, which needs no uevent) must not find a
    // node it cannot open yet.
    if (!umockdev_testbed_add_from_string(testbed, hid.constData(), &error)
        || !umockdev_testbed_add_from_string(testbed, raw.constData(), &error)) {
        say(QStringLiteral("cannot add %1: %2")
                .arg(QString::fromLatin1(rawPath), QString::fromUtf8(error->message)));
        g_clear_error(&error);
        nodes.push_back(std::move(node)); // its handler still names it
        return;
    }
    e.sysPaths.push_back("/sys" + hidPath);
    e.sysPaths.push_back("/sys" + rawPath);
    if (interfaceNumber == 0)
        e.numbers.append(node->number);
    e.nodes.push_back(node.get());
    nodes.push_back(std::move(node));
}

// The kernel hands out the lowest free number; a node that a program still holds open keeps its
// number after its device has gone. The avoided number stands for one held by a program outside the
// test.
int HidrawTestbed::Private::freeNumber(int avoided) const
{
    for (int number = 0;; ++number) {
        bool taken = number == avoided;
        for (const auto& node : nodes)
            taken = taken || (node->number == number && (!node->gone || heldOpen(*node)));
        if (!taken)
            return number;
    }
}

// A program started with this testbed's root in its environment.
bool HidrawTestbed::Private::seesTestbed(const QByteArray& pid) const
{
    const QByteArray wanted = "UMOCKDEV_DIR=" + root.toLocal8Bit();
    for (const QByteArray& variable : fileContents("/proc/" + pid + "/environ").split('\0')) {
        if (variable == wanted)
            return true;
    }
    return false;
}

// Nothing tells the testbed when a program closes the node, so the processes' open files are
// looked through for the node's pty.
bool HidrawTestbed::Private::heldOpen(const HidrawNode& node) const
{
    std::set<int> own;
    for (const auto& other : nodes) {
        // A pty freed by everyone can be handed to a node made since.
        if (!other->gone && other->ptyDevice == node.ptyDevice)
            return false;
        if (other->peer >= 0)
            own.insert(other->peer);
    }
    // The preload wraps the C library's file calls, those on /proc/self/fd among them; the system
    // calls go past it to what the kernel knows.
    const pid_t self = getpid();
    bool held = false;
    for (const QByteArray& process : directoryEntries("/proc")) {
        const pid_t pid = pid_t(atoi(process.constData()));
        // Only a program that sees this testbed can hold its nodes; another's pty may have been
        // given the number a node's pty had.
        if (pid <= 0 || (pid != self && !seesTestbed(process)))
            continue;
        const QByteArray fdDir = "/proc/" + process + "/fd/";
        for (const QByteArray& file : directoryEntries(fdDir)) {
            // The open file's own numbers: its name is gone once the pty's server side is closed.
            struct stat status
            {
            };
            if (syscall(SYS_newfstatat, AT_FDCWD, (fdDir + file).constData(), &status, 0) != 0
                || (pid == self && own.count(atoi(file.constData()))))
                continue;
            if (S_ISCHR(status.st_mode) && status.st_rdev == node.ptyDevice)
                held = true;
        }
    }
    return held;
}

void HidrawTestbed::Private::plug(int index)
{
    HidrawEntry& e = entry(index);
    if (e.returnSource) {
        g_source_destroy(g_main_context_find_source_by_id(context, e.returnSource));
        e.returnSource = 0;
    }
    if (e.plugged)
        return;
    const SimulatedDevice::Settings& s = e.device.settings();
    const QByteArray usbPath = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + QByteArray::number(e.port);
    QByteArray usb = "P: " + usbPath
        + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: PRODUCT=1210/"
        + QByteArray::number(productIdForModel(s.model), 16)
        + "/100\nA: idVendor=1210\nA: idProduct=" + hexWord(productIdForModel(s.model))
        + "\nA: bcdDevice=0100\nA: manufacturer=Quellor\nA: product=" + (s.model == Plus ? "Pelk+" : "Pelk")
        + "\nA: busnum=1\nA: devnum=" + QByteArray::number(e.port + 1) + "\nA: speed=12\n";
    if (!s.serialNumber.isEmpty())
        usb += "A: serial=" + s.serialNumber.toUtf8() + '\n';
    usb += '\n';
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, usb.constData(), &error)) {
        say(QStringLiteral("cannot add the USB device: %1").arg(QString::fromUtf8(error->message)));
        g_clear_error(&error);
        return;
    }
    e.sysPaths.assign(1, "/sys" + usbPath);
    e.plugged = true;
    for (int i = 0; i < qMax(1, s.interfaces); ++i) {
        const QByteArray interfacePath
            = usbPath + "/1-" + QByteArray::number(e.port) + ":1." + QByteArray::number(i);
        const QByteArray usbInterface = "P: " + interfacePath
            + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\nE: INTERFACE=3/0/0\nA: "
              "bInterfaceNumber="
            + QByteArray::number(i).rightJustified(2, '0') + "\nA: bInterfaceClass=03\n\n";
        if (!umockdev_testbed_add_from_string(testbed, usbInterface.constData(), &error)) {
            say(QStringLiteral("cannot add interface %1: %2").arg(i).arg(QString::fromUtf8(error->message)));
            g_clear_error(&error);
            continue;
        }
        e.sysPaths.push_back("/sys" + interfacePath);
        addNode(index, i, interfacePath, s);
    }
    for (const QByteArray& path : e.sysPaths)
        umockdev_testbed_uevent(testbed, path.constData(), "add");
    say(QStringLiteral("device %1: plugged in as %2")
            .arg(index)
            .arg(QString::fromLatin1(e.nodes.front()->devnode)));
}

void HidrawTestbed::Private::unplug(int index)
{
    HidrawEntry& e = entry(index);
    if (e.returnSource) {
        g_source_destroy(g_main_context_find_source_by_id(context, e.returnSource));
        e.returnSource = 0;
    }
    if (!e.plugged)
        return;
    e.plugged = false;
    for (HidrawNode* node : e.nodes) {
        node->gone = true;
        node->inbox.clear();
        releaseHeldWrites(*node, ENODEV);
        if (node->pendingRead) {
            umockdev_ioctl_client_complete(node->pendingRead, -1, EIO);
            g_object_unref(node->pendingRead);
            node->pendingRead = nullptr;
        }
        // The hang-up wakes a program polling the node.
        close(node->server);
        node->server = -1;
        close(node->peer);
        node->peer = -1;
        unlink((root.toLocal8Bit() + node->devnode).constData());
    }
    for (auto it = e.sysPaths.rbegin(); it != e.sysPaths.rend(); ++it)
        umockdev_testbed_uevent(testbed, it->constData(), "remove");
    for (auto it = e.sysPaths.rbegin(); it != e.sysPaths.rend(); ++it)
        umockdev_testbed_remove_device(testbed, it->constData());
    e.sysPaths.clear();
    e.nodes.clear();
    say(QStringLiteral("device %1: unplugged").arg(index));
}

gboolean HidrawTestbed::Private::onIdle(gpointer data)
{
    auto* d = static_cast<Private*>(data);
    const qint64 now = g_get_monotonic_time() / 1000;
    for (size_t index = 0; index < d->entries.size(); ++index) {
        if (d->entries[index]->plugged)
            d->handleRequest(int(index), d->entries[index]->device.idle(now));
    }
    return G_SOURCE_CONTINUE;
}

HidrawTestbed::HidrawTestbed()
    : d(new Private)
{
    d->self = this;
    if (!UmockdevPreload::active()) {
        d->error = QStringLiteral("the process does not run under libumockdev-preload");
        return;
    }
    d->context = g_main_context_new();
    d->loop = g_main_loop_new(d->context, FALSE);
    d->thread = g_thread_new(
        "hidraw testbed",
        [](gpointer data) -> gpointer {
            auto* p = static_cast<Private*>(data);
            // Wake-ups for the one-report-per-millisecond pace come on time.
            prctl(PR_SET_TIMERSLACK, 1UL);
            g_main_context_push_thread_default(p->context);
            g_main_loop_run(p->loop);
            g_main_context_pop_thread_default(p->context);
            return nullptr;
        },
        d.get());
    d->run([this] {
        d->testbed = umockdev_testbed_new();
        gchar* root = umockdev_testbed_get_root_dir(d->testbed);
        d->root = QString::fromLocal8Bit(root);
        g_free(root);
        GSource* idle = g_timeout_source_new(100);
        g_source_set_callback(idle, Private::onIdle, d.get(), nullptr);
        d->idleSource = g_source_attach(idle, d->context);
        g_source_unref(idle);
    });
}

HidrawTestbed::~HidrawTestbed()
{
    if (!d->thread)
        return;
    d->run([this] {
        d->observer = nullptr;
        for (size_t i = 0; i < d->entries.size(); ++i)
            d->unplug(int(i));
        for (auto& node : d->nodes) {
            if (!node->handler)
                continue;
            umockdev_testbed_detach_ioctl(d->testbed, node->devnode.constData(), nullptr);
            g_object_unref(node->handler);
        }
        g_source_destroy(g_main_context_find_source_by_id(d->context, d->idleSource));
        g_object_unref(d->testbed);
        g_main_loop_quit(d->loop);
    });
    g_thread_join(d->thread);
    g_main_loop_unref(d->loop);
    g_main_context_unref(d->context);
}

bool HidrawTestbed::isValid() const
{
    return d->testbed != nullptr;
}

QString HidrawTestbed::errorString() const
{
    return d->error;
}

QString HidrawTestbed::rootDir() const
{
    return d->root;
}

QStringList HidrawTestbed::environment() const
{
    return { QStringLiteral("LD_PRELOAD=") + QString::fromLocal8Bit(UmockdevPreload::preloadList()),
        QStringLiteral("UMOCKDEV_DIR=") + d->root };
}

int HidrawTestbed::addDevice(const SimulatedDeviceSettings& settings, const Layout& layout)
{
    int index = -1;
    d->run([&] {
        auto entry = std::make_unique<Private::HidrawEntry>();
        entry->device = SimulatedDevice(settings);
        entry->layout = layout;
        index = int(d->entries.size());
        entry->port = index + 1;
        entry->device.setLog([this](const QString& line) { d->say(line); });
        d->entries.push_back(std::move(entry));
        d->plug(index);
    });
    return index;
}

QString HidrawTestbed::nodePath(int index) const
{
    QString path;
    d->run([&] {
        const Private::HidrawEntry& e = d->entry(index);
        if (e.plugged && !e.nodes.empty())
            path = QString::fromLatin1(e.nodes.front()->devnode);
    });
    return path;
}

QList<int> HidrawTestbed::nodeNumbers(int index) const
{
    QList<int> numbers;
    d->run([&] { numbers = d->entry(index).numbers; });
    return numbers;
}

bool HidrawTestbed::isPlugged(int index) const
{
    bool plugged = false;
    d->run([&] { plugged = d->entry(index).plugged; });
    return plugged;
}

void HidrawTestbed::plug(int index)
{
    d->run([&] { d->plug(index); });
}

void HidrawTestbed::unplug(int index)
{
    d->run([&] { d->unplug(index); });
}

void HidrawTestbed::powerCycle(int index)
{
    d->run([&] {
        d->say(QStringLiteral("device %1: power cycle").arg(index));
        d->unplug(index);
        d->scheduleReturn(index, d->entry(index).device.settings().rebootMs);
    });
}

void HidrawTestbed::setTakingReports(int index, bool taking)
{
    d->run([&] {
        Private::HidrawEntry& e = d->entry(index);
        e.taking = taking;
        if (!taking)
            return;
        // Held writes are taken in the order they came.
        for (Private::HidrawNode* node : e.nodes) {
            auto held = std::move(node->heldWrites);
            node->heldWrites.clear();
            for (auto& write : held) {
                g_source_destroy(g_main_context_find_source_by_id(d->context, write.second));
                guint8* bytes = nullptr;
                int length = 0;
                umockdev_ioctl_data_retrieve(umockdev_ioctl_client_get_arg(write.first), &bytes, &length);
                const QByteArray report(reinterpret_cast<const char*>(bytes), length);
                g_free(bytes);
                d->take(*node, write.first, report);
                g_object_unref(write.first);
            }
        }
    });
}

void HidrawTestbed::setObserver(Observer observer)
{
    d->run([&] { d->observer = std::move(observer); });
}

void HidrawTestbed::later(int ms, std::function<void()> f)
{
    GSource* source = g_timeout_source_new(guint(ms));
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(f)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, d->context);
    g_source_unref(source);
}

SimulatedDevice HidrawTestbed::device(int index) const
{
    SimulatedDevice copy;
    d->run([&] { copy = d->entry(index).device; });
    return copy;
}

int HidrawTestbed::openCount(int index) const
{
    int count = 0;
    d->run([&] { count = d->entry(index).opens; });
    return count;
}

int HidrawTestbed::reportsTaken(int index) const
{
    int count = 0;
    d->run([&] { count = d->entry(index).reports; });
    return count;
}

QStringList HidrawTestbed::events() const
{
    std::lock_guard<std::mutex> locker(d->eventsLock);
    return d->events;
}

} // namespace PelkPlus
