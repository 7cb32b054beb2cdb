#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QPair>

namespace PelkPlus {

// A network reply made up by the test rather than fetched: only the headers it is given, for the
// classes that read what a reply says without sending anything.
class ScriptedReply : public QNetworkReply
{
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    explicit ScriptedReply(const Headers& headers = {}, QObject* parent = nullptr);
    ~ScriptedReply() override;

    void abort() override { }

protected:
    qint64 readData(char*, qint64) override { return -1; }
};

} // namespace PelkPlus
