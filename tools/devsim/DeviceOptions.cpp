#include "DeviceOptions.h"

#include "device/FirmwareVersion.h"

namespace PelkPlus {

namespace {
bool parseNumber(const QString& text, quint32& value)
{
    bool ok = false;
    value = text.trimmed().toUInt(&ok, 0);
    return ok;
}
} // namespace

bool DeviceOptions::apply(
    SimulatedDevice::Settings& s, const QString& name, const QString& value, QString* error)
{
    quint32 number = 0;
    auto fail = [error, &name, &value](const char* why) {
        if (error)
            *error = QStringLiteral("%1 %2: %3").arg(name, value, QLatin1String(why));
        return false;
    };
    if (name == QLatin1String("model")) {
        if (value == QLatin1String("plus") || value == QLatin1String("pelk+"))
            s.model = Plus;
        else if (value == QLatin1String("base") || value == QLatin1String("pelk"))
            s.model = Base;
        else
            return fail("model is plus or base");
    } else if (name == QLatin1String("mcu") || name == QLatin1String("dsp")) {
        if (value.split(QLatin1Char('.')).size() != 3)
            return fail("firmware versions are written release.major.minor, e.g. 3.1.2");
        (name == QLatin1String("mcu") ? s.mcuWord : s.dspWord) = parseFirmwareVersion(value).toWord();
    } else if (name == QLatin1String("styles")) {
        if (!parseNumber(value, number) || number > 0xFFFF)
            return fail("a 16-bit number");
        s.stylesVersion = quint16(number);
    } else if (name == QLatin1String("ensemble")) {
        if (!parseNumber(value, number))
            return fail("a 32-bit number");
        s.ensembleVersion = number;
    } else if (name == QLatin1String("serial")) {
        s.serialNumber = value;
    } else if (name == QLatin1String("path")) {
        s.path = value;
    } else if (name == QLatin1String("return-path")) {
        s.returnPath = value;
    } else if (name == QLatin1String("port-path")) {
        s.portPath = value;
    } else if (name == QLatin1String("interfaces")) {
        if (!parseNumber(value, number) || number < 1 || number > 8)
            return fail("1 to 8");
        s.interfaces = int(number);
    } else if (name == QLatin1String("duplicate-entries")) {
        if (!parseNumber(value, number) || number < 1 || number > 8)
            return fail("1 to 8");
        s.duplicateEntries = int(number);
    } else if (name == QLatin1String("report-ms")) {
        if (!parseNumber(value, number) || number < 1 || number > 1000)
            return fail("1 to 1000 milliseconds");
        s.reportMs = int(number);
        s.paced = true;
    } else if (name == QLatin1String("refuse-open-ms")) {
        if (!parseNumber(value, number))
            return fail("milliseconds");
        s.refuseOpenMs = int(number);
    } else if (name == QLatin1String("reboot-ms")) {
        if (!parseNumber(value, number))
            return fail("milliseconds");
        s.rebootMs = int(number);
    } else if (name == QLatin1String("unplug-after")) {
        if (!parseNumber(value, number))
            return fail("a packet count");
        s.unplugAfterPacket = int(number);
    } else if (name == QLatin1String("stop-taking-after")) {
        if (!parseNumber(value, number))
            return fail("a packet count");
        s.stopTakingAfterPacket = int(number);
    } else if (name == QLatin1String("ready")) {
        if (value == QLatin1String("immediately")) {
            s.ready = SimulatedDevice::ReadyBehaviour::Immediately;
        } else if (value == QLatin1String("never")) {
            s.ready = SimulatedDevice::ReadyBehaviour::Never;
        } else if (value == QLatin1String("no-answer")) {
            s.ready = SimulatedDevice::ReadyBehaviour::NoAnswer;
        } else if (value.startsWith(QLatin1String("after:")) && parseNumber(value.mid(6), number)) {
            s.ready = SimulatedDevice::ReadyBehaviour::AfterQueries;
            s.readyAfterQueries = int(number);
        } else {
            return fail("immediately, after:N, never or no-answer");
        }
    } else if (name == QLatin1String("header")) {
        if (value == QLatin1String("normal"))
            s.header = SimulatedDevice::HeaderBehaviour::Normal;
        else if (value == QLatin1String("no-answer"))
            s.header = SimulatedDevice::HeaderBehaviour::NoAnswer;
        else if (value == QLatin1String("bad-signature"))
            s.header = SimulatedDevice::HeaderBehaviour::BadSignature;
        else if (value == QLatin1String("bad-command"))
            s.header = SimulatedDevice::HeaderBehaviour::BadCommand;
        else if (value == QLatin1String("bad-count"))
            s.header = SimulatedDevice::HeaderBehaviour::BadCount;
        else
            return fail("normal, no-answer, bad-signature, bad-command or bad-count");
    } else {
        return fail("unknown setting");
    }
    return true;
}

bool DeviceOptions::applyFlag(SimulatedDevice::Settings& s, const QString& name)
{
    if (name == QLatin1String("paced"))
        s.paced = true;
    else if (name == QLatin1String("fast"))
        s.paced = false;
    else if (name == QLatin1String("no-drop-off"))
        s.dropOffAfterInstall = false;
    else if (name == QLatin1String("no-return"))
        s.comeBackAfterReboot = false;
    else if (name == QLatin1String("no-header-after-reboot"))
        s.headerAfterReboot = false;
    else if (name == QLatin1String("clear-release-bits"))
        s.clearBaseReleaseBits = true;
    else if (name == QLatin1String("keep-version"))
        s.keepVersionAfterInstall = true;
    else if (name == QLatin1String("version-before-last-sector"))
        s.versionBeforeLastSector = true;
    else
        return false;
    return true;
}

QString DeviceOptions::usage()
{
    return QStringLiteral(
        "usage: pelk-devsim [--socket PATH] [device options] [--add-device [device options]]...\n"
        "       pelk-devsim [--socket PATH] --replay FILE\n"
        "The socket defaults to $PELK_HIDSIM_SOCKET.\n"
        "--replay plays the device side of a recording made with PELK_HID_RECORD=FILE and stops with\n"
        "exit code 3 at the first report the host sends that the recording does not hold.\n"
        "Device options:\n"
        "  --model plus|base      --mcu R.M.m   --dsp R.M.m   --styles N   --ensemble N\n"
        "  --serial TEXT          --path TEXT   --interfaces N\n"
        "  --duplicate-entries N  (each interface listed N times with its one path)\n"
        "  --refuse-open-ms N     (opens refused for want of access for N ms after it appears)\n"
        "  --ready immediately|after:N|never|no-answer\n"
        "  --header normal|no-answer|bad-signature|bad-command|bad-count\n"
        "  --reboot-ms N          --unplug-after N\n"
        "  --stop-taking-after N  (takes no report after the Nth; the host's writes then fail after 5 s)\n"
        "  --paced (one report per millisecond, like full-speed USB) | --fast (default)\n"
        "  --report-ms N          (paced at one report every N ms: a device slower than its USB frames)\n"
        "  --no-drop-off (stays after an install until power-cycled)  --no-return (never comes back)\n"
        "  --no-header-after-reboot   --clear-release-bits (a Pelk reporting release types 0)\n"
        "  --keep-version (takes an install but keeps reporting its old version)\n"
        "  --version-before-last-sector (a Styles or Ensemble Audio version stored before its last sector)\n"
        "  --return-path TEXT     (comes back from a reboot or power cycle on this path)\n"
        "  --port-path TEXT       (the USB port it is listed on; sim-port-N by default, - for none)\n"
        "Commands on standard input (DEVICE is an index, 0 by default):\n"
        "  list | plug [DEVICE] | unplug [DEVICE] | power-cycle [DEVICE]\n"
        "  set [DEVICE] NAME VALUE   (any device option without the dashes, e.g. set 0 mcu 3.2.0)\n"
        "  flag [DEVICE] NAME        (paced, fast, no-drop-off, no-return, ...)\n"
        "  quit\n");
}

} // namespace PelkPlus
