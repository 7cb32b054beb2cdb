// The update manifest as the update manager reads it: the downloaded bytes through the SAX reader's
// input source into the parser, then every device component's version as the planning reads it,
// and the root element's attributes as the manager reads them beside the parser.
#include "FuzzSupport.h"

#include "app/SemanticVersion.h"
#include "device/FirmwareVersion.h"
#include "update/CatalogueHeader.h"
#include "update/UpdateManager.h"
#include "update/UpdateManifestParser.h"

#include <QBuffer>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
#include <QXmlInputSource>

using namespace PelkPlus;

namespace {

bool parseOnce(UpdateManifestParser& parser, const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QXmlInputSource source(&buffer);
    return parser.parse(&source);
}

bool sameComponents(const ManifestData& a, const ManifestData& b)
{
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        const QList<Component>& other = b.value(it.key());
        if (other.size() != it.value().size())
            return false;
        for (int i = 0; i < other.size(); ++i) {
            const Component& x = it.value().at(i);
            const Component& y = other.at(i);
            if (x.type != y.type || x.version != y.version || x.releaseDate != y.releaseDate
                || x.url != y.url)
                return false;
        }
    }
    return true;
}

void readVersions(const ManifestData& data)
{
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        for (const Component& component : it.value()) {
            switch (component.type) {
            case ComponentType::McuFirmware:
            case ComponentType::DspFirmware:
                parseFirmwareVersion(component.version).displayText();
                break;
            case ComponentType::Styles:
                hexVersionText(stylesVersionFromText(component.version));
                break;
            case ComponentType::EnsembleAudio:
                hexVersionText(ensembleAudioVersionFromText(component.version));
                break;
            default:
                try {
                    SemanticVersion(component.version).toString();
                } catch (const SemanticVersion::error&) { }
                break;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The manager refuses larger files before parsing.
    if (qint64(size) > UpdateManager::maximumManifestSize)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));

    // The manager keeps one parser and clears it before each manifest: a second parse of the same
    // bytes must give the same answer and the same components.
    UpdateManifestParser parser;
    const bool parsed = parseOnce(parser, bytes);
    const ManifestData first = parser.manifestData();
    parser.clearManifestData();
    parser.clearStateStack();
    fuzzAssert(parseOnce(parser, bytes) == parsed, "a reused parser answers as a fresh one");
    fuzzAssert(sameComponents(parser.manifestData(), first), "a reused parser reads the same components");
    if (parsed)
        readVersions(parser.manifestData());
    // The manager reads the root element apart from the parser: whatever the parser takes for a
    // catalogue with components, that reader must take for one too, or a good catalogue is refused.
    const CatalogueHeader header = CatalogueHeader::read(bytes);
    if (parsed && !first.isEmpty())
        fuzzAssert(
            header.kind == CatalogueHeader::Catalogue, "the root element's reader agrees with the parser");
    return 0;
}

QT_WARNING_POP
