#include "app/SemanticVersion.h"

#include "app/PelkVersion.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace PelkPlus {

namespace {

// Splits at ".". A token that ends at a "." counts even when empty; the rest of the string counts
// only when it is not empty, so "1.2.3." gives three tokens and "" none.
QList<QByteArray> splitTokens(const QByteArray& text)
{
    QList<QByteArray> tokens;
    int start = 0;
    while (start < text.size()) {
        const int dot = text.indexOf('.', start);
        if (dot < 0) {
            tokens.append(text.mid(start));
            break;
        }
        tokens.append(text.mid(start, dot - start));
        start = dot + 1;
    }
    return tokens;
}

enum class Conversion { Number, NoDigits, OutOfRange };

// A leading decimal number as strtol reads it: blanks, an optional sign, digits, the rest ignored.
Conversion toInt32(const QByteArray& token, std::int32_t* value)
{
    const char* begin = token.constData();
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(begin, &end, 10);
    if (end == begin)
        return Conversion::NoDigits;
    if (errno == ERANGE || number < std::numeric_limits<std::int32_t>::min()
        || number > std::numeric_limits<std::int32_t>::max())
        return Conversion::OutOfRange;
    *value = static_cast<std::int32_t>(number);
    return Conversion::Number;
}

} // namespace

SemanticVersion::SemanticVersion(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const int dash = bytes.indexOf('-');
    const QByteArray core = dash < 0 ? bytes : bytes.left(dash);
    const QByteArray preReleasePart = dash < 0 ? QByteArray() : bytes.mid(dash + 1);

    const QList<QByteArray> coreTokens = splitTokens(core);
    if (coreTokens.size() != 3)
        throw error();
    std::int32_t* const numbers[] = { &major, &minor, &patch };
    for (int i = 0; i < 3; ++i) {
        if (coreTokens.at(i).isEmpty() || toInt32(coreTokens.at(i), numbers[i]) != Conversion::Number)
            throw error();
    }

    for (const QByteArray& token : splitTokens(preReleasePart)) {
        if (token.isEmpty())
            throw error();
        PreReleaseIdentifier identifier;
        switch (toInt32(token, &identifier.number)) {
        case Conversion::Number:
            identifier.numeric = true;
            break;
        case Conversion::NoDigits:
            identifier.number = 0;
            identifier.text = token;
            break;
        case Conversion::OutOfRange:
            throw error();
        }
        preRelease.append(identifier);
    }
}

QString SemanticVersion::toString() const
{
    QString text = QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
    if (!preRelease.isEmpty()) {
        QStringList identifiers;
        for (const PreReleaseIdentifier& identifier : preRelease) {
            identifiers.append(
                // With the length: an identifier may hold a NUL, where the QByteArray overload would stop.
                identifier.numeric ? QString::number(identifier.number)
                                   : QString::fromUtf8(identifier.text.constData(), identifier.text.size()));
        }
        text += QLatin1Char('-') + identifiers.join(QLatin1Char('.'));
    }
    return text;
}

bool SemanticVersion::operator<(const SemanticVersion& other) const
{
    if (major != other.major)
        return major < other.major;
    if (minor != other.minor)
        return minor < other.minor;
    if (patch != other.patch)
        return patch < other.patch;
    // A pre-release comes before the release it leads to.
    if (preRelease.isEmpty() != other.preRelease.isEmpty())
        return !preRelease.isEmpty();

    const int common = std::min(preRelease.size(), other.preRelease.size());
    for (int i = 0; i < common; ++i) {
        const PreReleaseIdentifier& left = preRelease.at(i);
        const PreReleaseIdentifier& right = other.preRelease.at(i);
        if (left.numeric && right.numeric) {
            if (left.number != right.number)
                return left.number < right.number;
        } else if (left.numeric != right.numeric) {
            return left.numeric;
        } else if (left.text != right.text) {
            return left.text < right.text;
        }
    }
    return preRelease.size() < other.preRelease.size();
}

SemanticVersion applicationVersion()
{
    SemanticVersion version;
    try {
        version = SemanticVersion(QString::fromLatin1(applicationVersionText));
    } catch (const SemanticVersion::error&) {
        qCritical().nospace() << "Failed to parse app version: \"" << applicationVersionText << '"';
    }
    qDebug() << "App version = " << version.toString();
    return version;
}

std::uint32_t ensembleAudioVersionFromText(const QString& text)
{
    // toUInt() allows surrounding blanks and gives 0 for anything it cannot convert.
    return text.toUInt(nullptr, 0);
}

std::uint16_t stylesVersionFromText(const QString& text)
{
    return static_cast<std::uint16_t>(ensembleAudioVersionFromText(text) & 0xffffu);
}

} // namespace PelkPlus
