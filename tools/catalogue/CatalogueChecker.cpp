#include "CatalogueChecker.h"

#include "CatalogueEntries.h"
#include "CatalogueNames.h"

#include "update/ComponentType.h"

#include <QDir>
#include <QFileInfo>

namespace PelkPlus {

QString CatalogueChecker::localFile(const QUrl& url, const QString& root)
{
    const QStringList segments = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    for (int first = 0; first < segments.size(); ++first) {
        if (segments.mid(first).contains(QStringLiteral("..")))
            break;
        const QFileInfo candidate(QDir(root).filePath(segments.mid(first).join(QLatin1Char('/'))));
        // Never a file that a link leads out of the root.
        if (candidate.isFile() && candidate.canonicalFilePath().startsWith(canonicalRoot + QLatin1Char('/')))
            return candidate.filePath();
    }
    return QString();
}

bool CatalogueChecker::checkFiles(const ManifestData& data, const QString& root, QStringList* problems)
{
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        for (const Component& component : it.value()) {
            const QString name = QStringLiteral("%1 %2 %3")
                                     .arg(CatalogueNames::productName(it.key()),
                                         CatalogueNames::componentName(component.type), component.version);
            const QString path = localFile(component.url, root);
            if (path.isEmpty()) {
                problems->append(
                    QStringLiteral("%1: %2 is not below %3").arg(name, component.url.toString(), root));
                continue;
            }
            const qint64 size = QFileInfo(path).size();
            QByteArray digest;
            if (size == 0 || size > largestComponentSize(component.type)) {
                problems->append(QStringLiteral("%1: %2 has %3 bytes").arg(name, path).arg(size));
            } else if (component.catalogueSize > 0 && size != component.catalogueSize) {
                problems->append(QStringLiteral("%1: %2 has %3 bytes, the manifest says %4")
                                     .arg(name, path)
                                     .arg(size)
                                     .arg(component.catalogueSize));
            } else if (component.sha256.isEmpty()) {
                problems->append(QStringLiteral("%1: the manifest gives no SHA256").arg(name));
            } else if (!CatalogueEntries::fileDigest(path, &digest)) {
                problems->append(QStringLiteral("%1: %2 cannot be read").arg(name, path));
            } else if (digest != component.sha256) {
                problems->append(QStringLiteral("%1: %2 has SHA-256 %3, the manifest says %4")
                                     .arg(name, path, QString::fromLatin1(digest.toHex()),
                                         QString::fromLatin1(component.sha256.toHex())));
            }
        }
    }
    return problems->isEmpty();
}

} // namespace PelkPlus
