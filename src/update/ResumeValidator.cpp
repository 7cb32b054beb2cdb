#include "update/ResumeValidator.h"

#include "update/DownloadReplies.h"

#include <QNetworkReply>
#include <QRegularExpression>

namespace PelkPlus {

namespace {

// The first byte of a partial answer and the length of the whole file, from
// "bytes <first>-<last>/<total>"; -1 for what is unreadable or, for the total, "*".
void contentRange(const QNetworkReply* reply, qint64* first, qint64* total)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*bytes\\s+(\\d+)-\\d+/(\\d+|\\*)\\s*$"));
    const QRegularExpressionMatch match
        = pattern.match(QString::fromLatin1(reply->rawHeader("Content-Range")));
    bool ok = false;
    *first = match.hasMatch() ? match.captured(1).toLongLong(&ok) : -1;
    if (!ok)
        *first = -1;
    *total = match.hasMatch() ? match.captured(2).toLongLong(&ok) : -1;
    if (!ok)
        *total = -1;
}

// A weak ETag does not promise the same bytes, so it may not be used to resume (If-Range).
QByteArray strongEtag(const QNetworkReply* reply)
{
    const QByteArray etag = reply->rawHeader("ETag").trimmed();
    return etag.startsWith("W/") ? QByteArray() : etag;
}

} // namespace

void ResumeValidator::remember(const QNetworkReply* reply)
{
    const QByteArray etag = strongEtag(reply);
    isEtag = !etag.isEmpty();
    validator = isEtag ? etag : reply->rawHeader("Last-Modified").trimmed();
    fileLength = DownloadReplies::announcedLength(reply);
}

void ResumeValidator::clear()
{
    validator.clear();
    isEtag = false;
    fileLength = -1;
}

bool ResumeValidator::continuesHeldFile(
    const QNetworkReply* reply, qint64 offset, qint64 expectedSize, QString* reason) const
{
    qint64 first = -1;
    qint64 total = -1;
    contentRange(reply, &first, &total);
    const QByteArray answered = isEtag ? strongEtag(reply) : reply->rawHeader("Last-Modified").trimmed();
    if (first != offset)
        *reason = QStringLiteral("The server resumed at another byte than asked for.");
    else if ((fileLength >= 0 || expectedSize >= 0) && total != (fileLength >= 0 ? fileLength : expectedSize))
        *reason = QStringLiteral("The server resumed a file of another length than announced.");
    else if (answered != validator)
        *reason = QStringLiteral("The file changed on the server.");
    else
        return true;
    return false;
}

} // namespace PelkPlus
