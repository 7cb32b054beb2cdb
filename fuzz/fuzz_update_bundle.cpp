// An update bundle as the updater opens it: any bytes, read as a tar into a private folder, then
// its files given to a catalogue that lists one of each device component.
#include "FuzzSupport.h"

#include "update/UpdateBundle.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

using namespace PelkPlus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QString folder;
    {
        UpdateBundle bundle;
        QString error;
        const bool opened = bundle.openData(bytes, &error);
        fuzzAssert(opened == error.isEmpty(), "a refusal says why, an opened bundle does not");
        folder = bundle.folder();
        fuzzAssert(opened == !folder.isEmpty(), "a refused bundle keeps no folder");
        if (opened) {
            fuzzAssert(bundle.names().size() <= UpdateBundle::maximumEntries, "no more entries than allowed");
            fuzzAssert(bundle.names().contains(QLatin1String(UpdateBundle::manifestName)), "a catalogue");
            // Every file below the private folder, each under its own name.
            const QStringList written = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
            fuzzAssert(written.size() == bundle.names().size(), "one file written for each entry");
            ManifestData catalogue;
            for (const QString& name : bundle.names()) {
                Component component;
                component.url = QUrl(QStringLiteral("https://bundle.invalid/") + name);
                catalogue[ManifestProduct::Plus].append(component);
            }
            if (bundle.attach(&catalogue, &error)) {
                for (const Component& component : catalogue.value(ManifestProduct::Plus))
                    fuzzAssert(
                        QFileInfo(component.localPath).absolutePath() == folder, "files inside the folder");
            }
        }
    }
    fuzzAssert(folder.isEmpty() || !QFileInfo::exists(folder), "the folder goes with the bundle");
    return 0;
}
