#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

namespace PelkPlus {

// The updater's own version and the application versions listed in the update manifest:
// three numbers and an optional list of pre-release identifiers, ordered by semantic-versioning
// precedence.
class SemanticVersion
{
public:
    // Thrown for any text that is not a valid version; carries nothing, callers catch it by type.
    struct error
    {
    };

    struct PreReleaseIdentifier
    {
        bool numeric = false;
        std::int32_t number = 0; // meaningful only when numeric
        QByteArray text;         // meaningful only when not numeric
    };

    SemanticVersion() = default;
    // Throws SemanticVersion::error when the text is not a valid version.
    explicit SemanticVersion(const QString& text);

    QString toString() const;
    bool operator<(const SemanticVersion& other) const;

    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::int32_t patch = 0;
    QList<PreReleaseIdentifier> preRelease;
};

// Parses applicationVersionText, logging the result; a text that does not parse is logged as an
// error and gives 0.0.0.
SemanticVersion applicationVersion();

// Version texts of data components as the manifest writes them: an unsigned integer with automatic
// base ("0x" hexadecimal, a leading "0" octal, otherwise decimal), surrounding blanks allowed.
// Text that does not convert gives 0.
std::uint32_t ensembleAudioVersionFromText(const QString& text);
// The same conversion, keeping the low 16 bits that a Styles version has.
std::uint16_t stylesVersionFromText(const QString& text);

} // namespace PelkPlus

Q_DECLARE_METATYPE(PelkPlus::SemanticVersion)
