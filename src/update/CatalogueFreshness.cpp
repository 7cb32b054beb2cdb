#include "update/CatalogueFreshness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace PelkPlus {

namespace {

// The mark is one line, "newest <publication time> <SHA-256 in hex>". Files written before it
// hold one line per key, "<key id> <publication time>"; the newest of them becomes the mark.
// Anything larger than a few such lines is not this file.
constexpr qint64 maximumFileSize = 64 * 1024;
const char markName[] = "newest";
// "statement <issue time> <SHA-256 in hex>": the key statement applied last. An older updater skips
// the line, as it skips any line that is not one of its own.
const char statementName[] = "statement";

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

QDateTime CatalogueFreshness::effectiveExpiry(const CatalogueHeader& header)
{
    const QDateTime latest = header.published.addDays(maximumValidityDays);
    return header.expires.isValid() && header.expires < latest ? header.expires : latest;
}

CatalogueFreshness::Mark CatalogueFreshness::load() const
{
    Mark mark;
    QFile file(filePath);
    if (filePath.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > maximumFileSize)
        return mark;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 3 && fields.at(0) == statementName) {
            const QDateTime issued = CatalogueHeader::parseTime(QString::fromLatin1(fields.at(1)));
            if (issued.isValid() && (!mark.statementIssued.isValid() || issued > mark.statementIssued)) {
                mark.statementIssued = issued;
                mark.statementDigest = QByteArray::fromHex(fields.at(2));
            }
            continue;
        }
        const bool current = fields.size() == 3 && fields.at(0) == markName;
        if (!current && fields.size() != 2)
            continue;
        const QDateTime time = CatalogueHeader::parseTime(QString::fromLatin1(fields.at(1)));
        if (!time.isValid() || (mark.published.isValid() && time < mark.published))
            continue;
        const QByteArray digest = current ? QByteArray::fromHex(fields.at(2)) : QByteArray();
        // Of two records of the same time, the one that knows its bytes wins.
        if (time == mark.published && digest.isEmpty())
            continue;
        mark.published = time;
        mark.digest = digest;
    }
    return mark;
}

QDateTime CatalogueFreshness::newestAccepted() const
{
    return load().published;
}

QString CatalogueFreshness::refusal(
    const CatalogueHeader& header, const QByteArray& digest, const QDateTime& now) const
{
    if (!header.published.isValid() || !header.expires.isValid()) {
        return QStringLiteral(
            "The update catalogue does not say when it was published and until when it holds "
            "(Published, Expires); it may be an old copy, so it is refused.");
    }
    if (header.published > now.addSecs(clockToleranceSecs)) {
        return QStringLiteral("The update catalogue says it was published on %1, which is later than this "
                              "computer's clock (%2) allows; it is refused and not remembered. Check the "
                              "computer's clock if the date looks wrong.")
            .arg(displayTime(header.published), displayTime(now));
    }
    const QDateTime expiry = effectiveExpiry(header);
    if (expiry <= now) {
        return QStringLiteral("The update catalogue expired on %1%2; the server may be serving an old copy. "
                              "Check the computer's clock if the date looks wrong.")
            .arg(displayTime(expiry),
                expiry < header.expires
                    ? QStringLiteral(", %1 days after it was published").arg(maximumValidityDays)
                    : QString());
    }
    const Mark newest = load();
    // A catalogue of the same time is the same one fetched again, or it is not newer. A mark carried
    // over from the per-key records does not know its bytes: the first of that time is taken.
    const bool sameTimeOtherBytes
        = header.published == newest.published && !newest.digest.isEmpty() && newest.digest != digest;
    if (newest.published.isValid() && (header.published < newest.published || sameTimeOtherBytes)) {
        // An updater before this one remembered catalogues dated ahead of the clock; the mark is
        // never lowered by itself, but the user is told how to recover.
        const QString ahead = newest.published > now.addSecs(clockToleranceSecs)
            ? QStringLiteral(" The one accepted is dated after this computer's clock; if the clock is right, "
                             "delete %1 to accept current catalogues again.")
                  .arg(QDir::toNativeSeparators(filePath))
            : QString();
        return QStringLiteral("The update catalogue was published on %1, %2 the one already accepted "
                              "(published on %3); the server may be serving an old copy.%4")
            .arg(displayTime(header.published),
                sameTimeOtherBytes ? QStringLiteral("no later than") : QStringLiteral("before"),
                displayTime(newest.published), ahead);
    }
    return QString();
}

bool CatalogueFreshness::recordAccepted(const QDateTime& published, const QByteArray& digest, QString* error)
{
    Mark mark = load();
    if (mark.published.isValid()
        && (published < mark.published || (published == mark.published && !mark.digest.isEmpty())))
        return true;
    mark.published = published;
    mark.digest = digest;
    return save(mark, error);
}

void CatalogueFreshness::appliedStatement(QDateTime* issued, QByteArray* digest) const
{
    const Mark mark = load();
    *issued = mark.statementIssued;
    *digest = mark.statementDigest;
}

bool CatalogueFreshness::recordStatement(const QDateTime& issued, const QByteArray& digest, QString* error)
{
    Mark mark = load();
    if (mark.statementIssued.isValid() && issued < mark.statementIssued)
        return true;
    mark.statementIssued = issued;
    mark.statementDigest = digest;
    return save(mark, error);
}

bool CatalogueFreshness::save(const Mark& mark, QString* error) const
{
    QByteArray text;
    if (mark.published.isValid())
        text += QByteArray(markName) + ' ' + CatalogueHeader::timeText(mark.published).toLatin1() + ' '
            + mark.digest.toHex() + '\n';
    if (mark.statementIssued.isValid())
        text += QByteArray(statementName) + ' ' + CatalogueHeader::timeText(mark.statementIssued).toLatin1()
            + ' ' + mark.statementDigest.toHex() + '\n';

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
