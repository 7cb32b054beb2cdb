#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

namespace PelkPlus {

// A small HTTP/1.1 server on 127.0.0.1 for the network tests. Every path gets a scripted reply:
// status, headers, body in chunks with pauses, a stall, a body shorter than announced, a redirect.
// Each connection serves one request and is then closed. It counts the requests it has seen.
class HttpTestServer : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        int status = 200;
        // Empty for the usual phrase of the status.
        QByteArray reason;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool sendContentLength = true;
        // The length announced; -1 for the body's. A larger value makes the connection close early.
        qint64 contentLength = -1;
        // Body bytes per write, 0 for all at once, and the pause between writes.
        int chunkSize = 0;
        int chunkDelay = 0;
        // Milliseconds before anything is answered.
        int delay = 0;
        // Body bytes sent before the server goes silent with the connection kept open; -1 never.
        qint64 stallAfter = -1;
        // Never answer at all (the connection stays open).
        bool silent = false;
        // The body in chunked transfer coding (no Content-Length); each write is one chunk.
        bool chunked = false;
        // Answer a request with a Range header from the byte asked for, with 206; a request whose
        // If-Range names neither the reply's ETag nor its Last-Modified gets the whole body, with
        // 200, unless the server ignores If-Range (as a broken one does).
        bool ranges = false;
        bool ignoreIfRange = false;
        // The first faultyAnswers requests for the path (and method) are answered with faultStatus
        // when it is set, and with a body cut after closeAfter bytes (the full length announced)
        // when that is 0 or more.
        int faultyAnswers = 1;
        int faultStatus = 0;
        qint64 closeAfter = -1;
        // The connection is reset (not closed) where the body ends or is cut.
        bool reset = false;
        // The body is sent over and over until the client goes away.
        bool endless = false;

        // The body with the status, answered after the delay.
        static Reply of(const QByteArray& body, int status = 200, int delay = 0)
        {
            Reply r;
            r.body = body;
            r.status = status;
            r.delay = delay;
            return r;
        }
    };

    struct Request
    {
        QByteArray method;
        QString path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    explicit HttpTestServer(QObject* parent = nullptr);
    ~HttpTestServer() override;

    // Listens on 127.0.0.1 on a free port.
    bool listen();
    // Stops listening, as a server gone away: every connection is refused until listen() again.
    void close();
    quint16 port() const;
    QUrl url(const QString& path) const;

    // The reply for a path; a reply set for one method ("GET", "HEAD") wins over one for any method.
    // Unknown paths get 404. HEAD gets the headers the GET would get and no body.
    void setReply(const QString& path, const Reply& reply, const QByteArray& method = QByteArray());
    void setFile(const QString& path, const QByteArray& body);
    void setRedirect(const QString& path, const QString& location, int status = 302);
    // From the request after the given count of requests of the path with the method on, the path
    // answers that method with the reply: a file republished between two requests. Several may be
    // queued, for later counts.
    void replaceAfter(
        const QString& path, int requests, const Reply& reply, const QByteArray& method = "GET");

    int requestCount(const QString& path, const QByteArray& method = QByteArray()) const;
    int totalRequests() const { return receivedRequests.size(); }
    QList<Request> requests() const { return receivedRequests; }

signals:
    void requestReceived(const QByteArray& method, const QString& path);

private:
    Q_DISABLE_COPY(HttpTestServer)

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Request& request);
    // The reply as served to this request: a range of the body when one is asked for and allowed.
    static Reply forRange(Reply reply, const Request& request);
    void sendBody(QTcpSocket* socket, const Reply& reply, qint64 offset);

    QTcpServer* server = nullptr;
    QHash<QString, Reply> replies;
    QList<Request> receivedRequests;
    struct Replacement
    {
        QString path;
        QByteArray method;
        int after = 0;
        Reply reply;
    };
    QList<Replacement> replacements;
};

} // namespace PelkPlus
