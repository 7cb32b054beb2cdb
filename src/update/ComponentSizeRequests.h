#pragma once

#include "update/ManifestData.h"
#include "update/RetryBackoff.h"
#include "update/RetryCountdown.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>

class QNetworkAccessManager;
class QNetworkReply;

namespace PelkPlus {

class DownloadAgent;

// The HEAD requests of a check that ask the size of every component the catalogue lists, each tried
// again as a download would be. They follow the bounds of the agent that fetched the catalogue:
// its transfer time-out, its slow-server grace and minimum rate, and its retry pause.
class ComponentSizeRequests : public QObject
{
    Q_OBJECT

public:
    explicit ComponentSizeRequests(const DownloadAgent* bounds, QObject* parent = nullptr);
    ~ComponentSizeRequests() override;

    // Asks the size of every component of data and writes it there; data must outlive the
    // requests. done() comes once every size is known, at once when there is none to ask.
    void request(ManifestData* data);
    // Aborts the requests and drops the retries planned, without a signal.
    void abort();
    // The server (host:port) of a size request still unanswered, or waiting to be tried again;
    // empty for none.
    QString waitingServer() const;

signals:
    void done();
    void failed(const QString& reason);
    // A size request failed for a moment and is tried again; text says so to a person.
    void retrying(const QString& text);

private:
    Q_DISABLE_COPY(ComponentSizeRequests)

    void requestSize(ManifestProduct product, int index);
    void onSizeReply(QNetworkReply* reply, ManifestProduct product, int index);
    // Why the size a server announced for component cannot be its file's, empty when it can: it
    // differs from the catalogue's, or no file of the component's type is that large.
    static QString sizeProblem(const Component& component, qint64 announced);
    bool isFinished() const { return pendingSizeReplies.isEmpty() && pendingRetries == 0; }

    const DownloadAgent* bounds = nullptr;
    QNetworkAccessManager* network = nullptr;
    ManifestData* components = nullptr;
    QList<QNetworkReply*> pendingSizeReplies;
    // Size requests waiting for their next attempt, and the retries taken per component.
    int pendingRetries = 0;
    QMap<QPair<int, int>, RetryBackoff> sizeRetries;
    // The pause of the latest retry, told as it passes.
    RetryCountdown countdown;
    // Counts aborts, so that a retry planned before one is dropped.
    int generation = 0;
    QString lastRetriedServer;
};

} // namespace PelkPlus
