// Update bundles as anyone could hand them over: tars written here with libarchive, each hostile in
// one way, and one that is whole.
#include "update/Sha256.h"
#include "update/UpdateBundle.h"

#include "support/TestMain.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

using namespace PelkPlus;

namespace {

struct Member
{
    // link: a symbolic link's target, or the name a hard link repeats.
    Member(QByteArray entryName, QByteArray contents = {}, unsigned entryType = AE_IFREG,
        QByteArray target = {}, bool hard = false)
        : name(std::move(entryName))
        , data(std::move(contents))
        , type(entryType)
        , link(std::move(target))
        , hardLink(hard)
    { }
    QByteArray name;
    QByteArray data;
    unsigned type;
    QByteArray link;
    bool hardLink;
};
using Members = QList<Member>;

const QByteArray mcu = QByteArray("firmware image ").repeated(40);
const QUrl mcuUrl(QStringLiteral("https://bundle.invalid/plus/mcu.bin"));

// The tar of the members (gzip-compressed; plain on Windows, whose libarchive has no compression
// library), cut to cutAt bytes when that is not negative.
QByteArray tar(const Members& members, int cutAt = -1)
{
    QTemporaryDir scratch;
    const QByteArray path = QFile::encodeName(scratch.filePath(QStringLiteral("b.tar.gz")));
    struct archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
#if !defined(Q_OS_WIN)
    archive_write_add_filter_gzip(writer);
#endif
    archive_write_open_filename(writer, path.constData());
    for (const Member& member : members) {
        struct archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.name.constData());
        archive_entry_set_filetype(entry, member.type);
        archive_entry_set_perm(entry, 0644);
        if (member.hardLink)
            archive_entry_set_hardlink(entry, member.link.constData());
        else if (!member.link.isEmpty())
            archive_entry_set_symlink(entry, member.link.constData());
        archive_entry_set_size(entry, member.type == AE_IFREG ? member.data.size() : 0);
        archive_write_header(writer, entry);
        if (member.type == AE_IFREG)
            archive_write_data(writer, member.data.constData(), size_t(member.data.size()));
        archive_entry_free(entry);
    }
    archive_write_free(writer);
    QFile file(QFile::decodeName(path));
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    return cutAt < 0 ? bytes : bytes.left(cutAt);
}

Members whole()
{
    return { { "update-manifest.xml", "<Family Name=\"PELK\"/>" }, { "plus/", {}, AE_IFDIR },
        { "./plus/mcu.bin", mcu } };
}

ManifestData catalogueOf(const QByteArray& file)
{
    Component component;
    component.url = mcuUrl;
    component.version = QStringLiteral("3.2.7");
    component.catalogueSize = file.size();
    Sha256 digest;
    digest.addData(file);
    component.sha256 = digest.result();
    return { { ManifestProduct::Plus, { component } } };
}

} // namespace

class tst_UpdateBundle : public QObject
{
    Q_OBJECT

private slots:
    void wholeBundle();
    void hostileBundle_data();
    void hostileBundle();
};

void tst_UpdateBundle::wholeBundle()
{
    QString folder;
    {
        UpdateBundle bundle;
        QString error;
        QVERIFY2(bundle.openData(tar(whole()), &error), qPrintable(error));
        QCOMPARE(bundle.manifest(), QByteArray("<Family Name=\"PELK\"/>"));
        QVERIFY(!bundle.hasSignature());
        folder = bundle.folder();
#if !defined(Q_OS_WIN) // Windows keeps it private by the profile folder's access list, not by modes
        // The owner's alone.
        QCOMPARE(int(QFileInfo(folder).permissions() & 0x7077), 0x7000);
#endif
        ManifestData data = catalogueOf(mcu);
        QVERIFY2(bundle.attach(&data, &error), qPrintable(error));
        const Component& attached = data.value(ManifestProduct::Plus).first();
        QVERIFY(attached.localPath.startsWith(folder + QLatin1Char('/')));
        QFile file(attached.localPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), mcu);
        QCOMPARE(attached.downloadedSha256, catalogueOf(mcu).first().first().sha256);
    }
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_UpdateBundle::hostileBundle_data()
{
    QTest::addColumn<QByteArray>("bundle");
    QTest::addColumn<QByteArray>("catalogued"); // the mcu file as the catalogue describes it
    QTest::addColumn<QString>("refusal");

    const QByteArray manifest = "<Family Name=\"PELK\"/>";
    const Member catalogue { "update-manifest.xml", manifest };
    QTest::newRow("absolute name") << tar({ catalogue, { "/tmp/evil", "x" } }) << mcu
                                   << "outside its folder (/tmp/evil)";
    QTest::newRow("climbs out") << tar({ catalogue, { "../evil", "x" } }) << mcu
                                << "outside its folder (../evil)";
    QTest::newRow("climbs out from within")
        << tar({ catalogue, { "plus/../../evil", "x" } }) << mcu << "outside its folder";
    QTest::newRow("symbolic link") << tar({ catalogue, { "plus/mcu.bin", {}, AE_IFLNK, "/etc/passwd" } })
                                   << mcu << "a link (plus/mcu.bin)";
    QTest::newRow("hard link") << tar({ catalogue, { "plus/mcu.bin", {}, AE_IFREG, "/etc/passwd", true } })
                               << mcu << "a link (plus/mcu.bin)";
    QTest::newRow("device file") << tar({ catalogue, { "plus/mcu.bin", {}, AE_IFCHR } }) << mcu
                                 << "special file";
    QTest::newRow("named pipe") << tar({ catalogue, { "plus/mcu.bin", {}, AE_IFIFO } }) << mcu
                                << "special file";
    QTest::newRow("a name twice") << tar(
        { catalogue, { "plus/mcu.bin", mcu }, { "plus//./mcu.bin", "other" } })
                                  << mcu << "holds plus/mcu.bin twice";
    QTest::newRow("larger than any component")
        << tar({ catalogue, { "plus/mcu.bin", QByteArray(32 * 1024 * 1024 + 1, '\0') } }) << mcu
        << "plus/mcu.bin is larger than the updater takes (33554432 bytes at most)";
    QTest::newRow("catalogue larger than a catalogue")
        << tar({ { "update-manifest.xml", QByteArray(4 * 1024 * 1024 + 1, ' ') } }) << mcu
        << "larger than the updater takes";
    QByteArray noise(20000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    QTest::newRow("cut short in a file")
        << tar({ catalogue, { "plus/mcu.bin", noise } }, 10000) << mcu << "cut short or damaged";
    QTest::newRow("cut short in its first header") << tar(whole(), 20) << mcu << "cut short or damaged";
    QTest::newRow("not a tar") << QByteArray("<Family Name=\"PELK\"/>") << mcu << "not an update bundle";
    QTest::newRow("no catalogue") << tar({ { "plus/mcu.bin", mcu } }) << mcu << "no update catalogue";
    Members many { catalogue };
    for (int i = 0; i < 1000; ++i)
        many.append({ QByteArray::number(i), "x" });
    QTest::newRow("a thousand tiny entries") << tar(many) << mcu << "more than 64 entries";
    QTest::newRow("catalogue names a file it lacks")
        << tar({ catalogue, { "plus/other.bin", mcu } }) << mcu << "does not hold its file (plus/mcu.bin)";
    QTest::newRow("file with another digest")
        << tar(whole()) << QByteArray(mcu).replace('f', 'F') << "not the one the catalogue describes";
    QTest::newRow("file of another size") << tar(whole()) << mcu + "x"
                                          << "has 600 bytes";
}

void tst_UpdateBundle::hostileBundle()
{
    QFETCH(QByteArray, bundle);
    QFETCH(QByteArray, catalogued);
    QFETCH(QString, refusal);

    const QStringList before = QDir::temp().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    UpdateBundle opened;
    QString error;
    ManifestData data = catalogueOf(catalogued);
    const bool accepted = opened.openData(bundle, &error) && opened.attach(&data, &error);
    QVERIFY(!accepted);
    QVERIFY2(
        error.startsWith(QStringLiteral("The update bundle cannot be used: ")) && error.contains(refusal),
        qPrintable(error));
    QVERIFY(data.value(ManifestProduct::Plus).first().localPath.isEmpty());
    // Nothing was written anywhere a name in the archive points, nor left behind.
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil")));
    QVERIFY(!QFileInfo::exists(QDir::temp().filePath(QStringLiteral("../evil"))));
    if (opened.folder().isEmpty())
        QCOMPARE(QDir::temp().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
}

PELK_TEST_MAIN(tst_UpdateBundle, PelkPlus::ConsoleTest)

#include "tst_UpdateBundle.moc"
