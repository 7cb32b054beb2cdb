#include "support/HttpTestServer.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace PelkPlus {

namespace {

QByteArray standardReason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QString replyKey(const QString& path, const QByteArray& method)
{
    return QString::fromLatin1(method) + QLatin1Char(' ') + path;
}

} // namespace

HttpTestServer::HttpTestServer(QObject* parent)
    : QObject(parent)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &HttpTestServer::onNewConnection);
}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::listen()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

void HttpTestServer::close()
{
    server->close();
}

quint16 HttpTestServer::port() const
{
    return server->serverPort();
}

QUrl HttpTestServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void HttpTestServer::setReply(const QString& path, const Reply& reply, const QByteArray& method)
{
    replies.insert(replyKey(path, method), reply);
}

void HttpTestServer::setFile(const QString& path, const QByteArray& body)
{
    Reply reply;
    reply.body = body;
    setReply(path, reply);
}

void HttpTestServer::setRedirect(const QString& path, const QString& location, int status)
{
    Reply reply;
    reply.status = status;
    reply.headers.append({ "Location", location.toUtf8() });
    reply.body = "moved";
    setReply(path, reply);
}

void HttpTestServer::replaceAfter(
    const QString& path, int requests, const Reply& reply, const QByteArray& method)
{
    replacements.append({ path, method, requests, reply });
}

int HttpTestServer::requestCount(const QString& path, const QByteArray& method) const
{
    int count = 0;
    for (const Request& request : receivedRequests) {
        if (request.path == path && (method.isEmpty() || request.method == method))
            ++count;
    }
    return count;
}

void HttpTestServer::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpTestServer::onReadyRead(QTcpSocket* socket)
{
    // Requests without a body: everything up to the blank line, and one request per connection.
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);

    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    request.path = QString::fromUtf8(requestLine.value(1));
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(
                lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    receivedRequests.append(request);
    for (int i = 0; i < replacements.size(); ++i) {
        const Replacement& due = replacements.at(i);
        if (due.path == request.path && due.method == request.method
            && requestCount(request.path, request.method) == due.after + 1) {
            setReply(due.path, due.reply, due.method);
            replacements.removeAt(i--);
        }
    }
    emit requestReceived(request.method, request.path);
    respond(socket, request);
}

void HttpTestServer::respond(QTcpSocket* socket, const Request& request)
{
    Reply reply;
    if (replies.contains(replyKey(request.path, request.method))) {
        reply = replies.value(replyKey(request.path, request.method));
    } else if (replies.contains(replyKey(request.path, QByteArray()))) {
        reply = replies.value(replyKey(request.path, QByteArray()));
    } else {
        reply.status = 404;
        reply.body = "not here";
    }
    if (reply.silent)
        return;
    reply = forRange(reply, request);
    if (requestCount(request.path, request.method) <= reply.faultyAnswers) {
        if (reply.faultStatus != 0)
            reply.status = reply.faultStatus;
        if (reply.closeAfter >= 0) {
            reply.contentLength = reply.body.size();
            reply.body.truncate(int(reply.closeAfter));
        }
    }

    const bool head = request.method == "HEAD";
    auto answer = [this, socket, reply, head] {
        QByteArray text = "HTTP/1.1 " + QByteArray::number(reply.status) + ' '
            + (reply.reason.isEmpty() ? standardReason(reply.status) : reply.reason) + "\r\n";
        for (const auto& header : reply.headers)
            text += header.first + ": " + header.second + "\r\n";
        if (reply.chunked)
            text += "Transfer-Encoding: chunked\r\n";
        else if (reply.sendContentLength) {
            const qint64 length = reply.contentLength >= 0 ? reply.contentLength : reply.body.size();
            text += "Content-Length: " + QByteArray::number(length) + "\r\n";
        }
        text += "Connection: close\r\n\r\n";
        socket->write(text);
        if (head) {
            socket->disconnectFromHost();
            return;
        }
        sendBody(socket, reply, 0);
    };
    if (reply.delay > 0)
        QTimer::singleShot(reply.delay, socket, answer);
    else
        answer();
}

void HttpTestServer::sendBody(QTcpSocket* socket, const Reply& reply, qint64 offset)
{
    qint64 limit = reply.body.size();
    if (reply.stallAfter >= 0)
        limit = qMin(limit, reply.stallAfter);
    const qint64 chunk = reply.chunkSize > 0 ? reply.chunkSize : limit;
    const qint64 count = qMin(chunk, limit - offset);
    if (count > 0 && reply.chunked)
        socket->write(QByteArray::number(count, 16) + "\r\n" + reply.body.mid(offset, count) + "\r\n");
    else if (count > 0)
        socket->write(reply.body.constData() + offset, count);
    offset += qMax<qint64>(count, 0);

    if (reply.endless && offset >= limit) {
        // Waits for the client to take what was written, so that memory stays bounded.
        QTimer::singleShot(socket->bytesToWrite() > 65536 ? 5 : reply.chunkDelay, socket,
            [this, socket, reply] { sendBody(socket, reply, 0); });
        return;
    }
    if (offset < limit) {
        QTimer::singleShot(
            reply.chunkDelay, socket, [this, socket, reply, offset] { sendBody(socket, reply, offset); });
        return;
    }
    // A stalled reply keeps its connection open and silent until the client gives up.
    if (reply.stallAfter >= 0 && reply.stallAfter < reply.body.size())
        return;
    if (reply.chunked)
        socket->write("0\r\n\r\n");
    if (reply.reset) {
        // A linger time of 0 makes the close a reset.
        socket->flush();
        const linger immediately { 1, 0 };
        ::setsockopt(socket->socketDescriptor(), SOL_SOCKET, SO_LINGER,
            reinterpret_cast<const char*>(&immediately), sizeof immediately);
        socket->abort();
        return;
    }
    socket->disconnectFromHost();
}

HttpTestServer::Reply HttpTestServer::forRange(Reply reply, const Request& request)
{
    const QByteArray range = request.headers.value("range");
    if (!reply.ranges || reply.status != 200 || !range.startsWith("bytes=") || !range.endsWith('-'))
        return reply;
    const QByteArray ifRange = request.headers.value("if-range");
    if (!ifRange.isEmpty() && !reply.ignoreIfRange) {
        bool same = false;
        for (const auto& header : qAsConst(reply.headers)) {
            const QByteArray name = header.first.toLower();
            if ((name == "etag" || name == "last-modified") && header.second == ifRange)
                same = true;
        }
        if (!same)
            return reply;
    }
    const qint64 first = range.mid(6, range.size() - 7).toLongLong();
    const qint64 total = reply.body.size();
    reply.status = 206;
    reply.headers.append({ "Content-Range",
        "bytes " + QByteArray::number(first) + '-' + QByteArray::number(total - 1) + '/'
            + QByteArray::number(total) });
    reply.body = reply.body.mid(int(first));
    // A stall or a length given for the whole body belonged to the first answer.
    reply.stallAfter = -1;
    reply.contentLength = -1;
    return reply;
}

} // namespace PelkPlus
