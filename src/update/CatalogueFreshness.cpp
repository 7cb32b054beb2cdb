#include "update/CatalogueFreshness.h"

#include "update/CatalogueSignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace PelkPlus {

namespace {

// One line per key: "<key id> <publication time>". A few keys in a lifetime; anything larger is
// not this file.
constexpr qint64 maximumFileSize = 64 * 1024;

} // namespace

QString CatalogueFreshness::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/accepted-catalogues");
}

CatalogueFreshness::CatalogueFreshness(const QString& path)
    : filePath(path)
{ }

QString CatalogueFreshness::displayTime(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
}

QMap<QByteArray, QDateTime> CatalogueFreshness::load() const
{
    QMap<QByteArray, QDateTime> times;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumFileSize)
        return times;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2)
            continue;
        const QDateTime time = CatalogueHeader::parseTime(QString::fromLatin1(fields.at(1)));
        if (time.isValid())
            times.insert(fields.at(0), time);
    }
    return times;
}

QDateTime CatalogueFreshness::newestAccepted(const QByteArray& key) const
{
    return load().value(CatalogueSignature::keyId(key));
}

QString CatalogueFreshness::refusal(
    const CatalogueHeader& header, const QList<QByteArray>& keys, const QDateTime& now) const
{
    if (!header.published.isValid() || !header.expires.isValid()) {
        return QStringLiteral(
            "The update catalogue does not say when it was published and until when it holds "
            "(Published, Expires); it may be an old copy, so it is refused.");
    }
    if (header.expires <= now) {
        return QStringLiteral("The update catalogue expired on %1; the server may be serving an old copy. "
                              "Check the computer's clock if the date looks wrong.")
            .arg(displayTime(header.expires));
    }
    const QMap<QByteArray, QDateTime> times = load();
    for (const QByteArray& key : keys) {
        const QDateTime newest = times.value(CatalogueSignature::keyId(key));
        if (newest.isValid() && header.published < newest) {
            return QStringLiteral("The update catalogue was published on %1, before the one already accepted "
                                  "(published on %2); the server may be serving an old copy.")
                .arg(displayTime(header.published), displayTime(newest));
        }
    }
    return QString();
}

bool CatalogueFreshness::recordAccepted(
    const QList<QByteArray>& keys, const QDateTime& published, QString* error)
{
    QMap<QByteArray, QDateTime> times = load();
    for (const QByteArray& key : keys) {
        const QByteArray id = CatalogueSignature::keyId(key);
        if (!times.value(id).isValid() || times.value(id) < published)
            times.insert(id, published.toUTC());
    }
    QByteArray text;
    for (auto it = times.cbegin(); it != times.cend(); ++it)
        text += it.key() + ' ' + CatalogueHeader::timeText(it.value()).toLatin1() + '\n';

    if (!QDir().mkpath(QFileInfo(filePath).absolutePath())) {
        *error = QStringLiteral("cannot create %1").arg(QFileInfo(filePath).absolutePath());
        return false;
    }
    // Written whole or not at all: a torn file would forget the newest catalogue seen.
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(filePath, file.errorString());
        return false;
    }
    return true;
}

} // namespace PelkPlus
