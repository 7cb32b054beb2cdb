#pragma once

#include <QByteArray>
#include <QString>

class QNetworkReply;

namespace PelkPlus {

// What identifies the file whose first bytes a cut download holds, so that the rest is asked for
// (If-Range) and joined to them only while the server still serves that very file: the answer's
// strong ETag, else its Last-Modified, and the length of the whole file as it was announced.
class ResumeValidator
{
public:
    // Takes what a whole-file answer says of its file.
    void remember(const QNetworkReply* reply);
    void clear();
    // Nothing identifies the held file; a cut download then starts over.
    bool isEmpty() const { return validator.isEmpty(); }
    // The value of a resuming request's If-Range header.
    QByteArray ifRange() const { return validator; }
    // Whether a partial answer continues the very file whose first offset bytes are held; if not,
    // reason says why. expectedSize (-1 for unknown) stands in for a length never announced.
    bool continuesHeldFile(
        const QNetworkReply* reply, qint64 offset, qint64 expectedSize, QString* reason) const;

private:
    // The validator the held bytes came with, empty when neither header came; which of the two it
    // is; the whole file's length as announced, -1 when unknown.
    QByteArray validator;
    bool isEtag = false;
    qint64 fileLength = -1;
};

} // namespace PelkPlus
