#include "ReplaySession.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>

namespace PelkPlus {

namespace {
// A recording is a support file from elsewhere: it is read with limits.
constexpr qint64 maxRecordingBytes = 512 * 1024 * 1024;
constexpr int inputReportSize = 64;
} // namespace

bool ReplaySession::load(const QString& filePath, QString* error)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(filePath, file.errorString());
        return false;
    }
    if (file.size() > maxRecordingBytes) {
        *error = QStringLiteral("%1 is too big for a recording").arg(filePath);
        return false;
    }
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        QJsonParseError parseError {};
        const QJsonObject object = QJsonDocument::fromJson(line, &parseError).object();
        if (parseError.error != QJsonParseError::NoError) {
            *error = QStringLiteral("%1 line %2 is not a recorded call").arg(filePath).arg(lineNumber);
            return false;
        }
        const QString call = object.value(QStringLiteral("call")).toString();
        Event event;
        event.device = object.value(QStringLiteral("device")).toInt();
        const int result = object.value(QStringLiteral("result")).toInt();
        if (call == QLatin1String("enumerate")) {
            event.kind = Event::Enumerate;
            for (const QJsonValue value : object.value(QStringLiteral("entries")).toArray()) {
                const QJsonObject entry = value.toObject();
                if (entry.value(QStringLiteral("path")).isNull())
                    continue; // the bus cannot list an entry without a path
                event.listing += entry.value(QStringLiteral("path")).toString().toUtf8() + '\t'
                    + QByteArray::number(entry.value(QStringLiteral("vendor")).toInt(), 16)
                          .rightJustified(4, '0')
                    + '\t'
                    + QByteArray::number(entry.value(QStringLiteral("product")).toInt(), 16)
                          .rightJustified(4, '0')
                    + '\t' + entry.value(QStringLiteral("serial")).toString().toUtf8() + '\n';
            }
        } else if (call == QLatin1String("open")) {
            event.kind = Event::Open;
            event.path = object.value(QStringLiteral("path")).toString();
            event.ok = object.value(QStringLiteral("result")).toString() == QLatin1String("ok");
            event.error = object.value(QStringLiteral("errno")).toInt();
        } else if (call == QLatin1String("write")) {
            event.kind = Event::Write;
            event.ok = result != -1;
            event.data = QByteArray::fromHex(object.value(QStringLiteral("data")).toString().toLatin1());
            event.writeNumber = ++writes;
        } else if (call == QLatin1String("read")) {
            event.kind = Event::Read;
            if (result == 0)
                continue; // nothing came: nothing to play
            event.ok = result > 0;
            event.data = QByteArray::fromHex(object.value(QStringLiteral("data")).toString().toLatin1())
                             .leftJustified(inputReportSize, '\0', true);
        } else if (call == QLatin1String("close")) {
            event.kind = Event::Close;
        } else {
            continue; // the start line, or a call this version does not know
        }
        events.append(event);
    }
    while (pending < events.size() && events.at(pending).kind == Event::Enumerate)
        ++pending;
    return true;
}

void ReplaySession::consume(int index)
{
    events[index].consumed = true;
    lastConsumed = qMax(lastConsumed, index);
    while (pending < events.size()
        && (events.at(pending).consumed || events.at(pending).kind == Event::Enumerate))
        ++pending;
}

QByteArray ReplaySession::enumeration()
{
    // The bus is seen as it was at the point the host has reached: the host's monitor polls at its
    // own pace, so it is given the enumerations recorded up to its next call in turn, never one
    // from before its last call, and the latest again once it has had them all.
    const int limit = nextTraffic();
    for (; floorScanned < lastConsumed && floorScanned + 1 < events.size(); ++floorScanned) {
        if (events.at(floorScanned + 1).kind == Event::Enumerate)
            floor = floorScanned + 1;
    }
    int from = qMax(qMax(lastEnumeration + 1, floor), 0);
    from = qMax(from, enumerationScanned + 1);
    for (int i = from; i < limit; ++i) {
        if (events.at(i).kind == Event::Enumerate) {
            lastEnumeration = i;
            enumerationScanned = i;
            return events.at(i).listing;
        }
    }
    enumerationScanned = qMax(enumerationScanned, limit - 1);
    for (int i = limit - 1; i >= 0; --i) {
        if (events.at(i).kind == Event::Enumerate)
            return events.at(i).listing;
    }
    return QByteArray();
}

int ReplaySession::open(const QString& path, QByteArray* refusal, QString* mismatch)
{
    for (int i = pending; i < events.size(); ++i) {
        Event& event = events[i];
        if (event.kind != Event::Open || event.consumed)
            continue;
        if (event.path != path)
            break;
        consume(i);
        if (event.ok)
            return event.device;
        *refusal = event.error == EACCES ? QByteArrayLiteral("ERR permission denied\n")
                                         : QByteArrayLiteral("ERR no such device\n");
        return -1;
    }
    *refusal = QByteArrayLiteral("ERR no such device\n");
    *mismatch = QStringLiteral("the host opened %1, which the recording does not open next").arg(path);
    return -1;
}

void ReplaySession::collectReplies(int device, Answer& answer)
{
    for (int i = pending; i < events.size(); ++i) {
        Event& event = events[i];
        if (event.consumed || event.device != device || event.kind == Event::Enumerate
            || event.kind == Event::Open)
            continue;
        if (event.kind != Event::Read)
            return; // the host's turn again
        consume(i);
        if (!event.ok) {
            answer.hangUp = true;
            return;
        }
        answer.replies.append(event.data);
    }
}

ReplaySession::Answer ReplaySession::hostWrote(int device, const QByteArray& report)
{
    Answer answer;
    for (int i = pending; i < events.size(); ++i) {
        Event& event = events[i];
        if (event.consumed || event.device != device || event.kind == Event::Enumerate
            || event.kind == Event::Open)
            continue;
        if (event.kind != Event::Write) {
            answer.mismatch
                = QStringLiteral("report %1 sent by the host is not in the recording, which holds "
                                 "%2 reports: %3")
                      .arg(matched + 1)
                      .arg(writes)
                      .arg(QString::fromLatin1(report.toHex()));
            return answer;
        }
        if (event.data != report) {
            int at = 0;
            while (at < report.size() && at < event.data.size() && report.at(at) == event.data.at(at))
                ++at;
            answer.mismatch
                = QStringLiteral("report %1 differs from the recording at byte %2: "
                                 "recorded %3, sent %4")
                      .arg(event.writeNumber)
                      .arg(at)
                      .arg(QString::fromLatin1(event.data.toHex()), QString::fromLatin1(report.toHex()));
            return answer;
        }
        consume(i);
        ++matched;
        if (!event.ok) {
            answer.hangUp = true; // the device took no more
            return answer;
        }
        collectReplies(device, answer);
        return answer;
    }
    answer.mismatch
        = QStringLiteral("report %1 sent by the host is not in the recording, which holds %2 reports")
              .arg(matched + 1)
              .arg(writes);
    return answer;
}

void ReplaySession::hostClosed(int device)
{
    for (int i = pending; i < events.size(); ++i) {
        Event& event = events[i];
        if (event.device != device || event.consumed || event.kind == Event::Enumerate
            || event.kind == Event::Open)
            continue;
        consume(i);
        if (event.kind == Event::Close)
            return;
    }
}

bool ReplaySession::finished() const
{
    return nextTraffic() == events.size();
}

} // namespace PelkPlus
