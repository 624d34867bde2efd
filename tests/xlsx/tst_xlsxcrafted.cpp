// Hostile and unusual packages, as tests/data/make_crafted.py writes them:
// what a save may remove, many prefixes and sheets, two sheets on one part,
// entries that must be copied exactly as stored.
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include "myxlsx.h"
#include "xlsxsuite.h"

using Table = QList<QStringList>;
using suite::fileBytes;

namespace {

const QString Crafted = suite::Data + QStringLiteral("/crafted/");

// Sheet1 of the crafted workbooks: a header, A2 a shared string, B2 =1+1.
const QStringList Header{"name", "value"};
const Table Rows{{"distance", "2"}};

QStringList entryNames(const QString &path)
{
    QStringList names;
    for (const suite::Entry &e : suite::entries(path))
        names.append(e.name);
    return names;
}

} // namespace

class TestXlsxCrafted : public QObject
{
    Q_OBJECT

private slots:
    void calcChainLookAlikes_data();
    void calcChainLookAlikes();
    void manyPrefixes_data();
    void manyPrefixes();
    void sheetCount_data();
    void sheetCount();
    void twoSheetsOnOnePart_data();
    void twoSheetsOnOnePart();
    void entriesCopiedAsStored_data();
    void entriesCopiedAsStored();
    void refusedSaves_data();
    void refusedSaves();
    void savesThroughALink();

private:
    suite::WorkDir m_work;

    // make_crafted.py's workbook of that name, with count as --count.
    QString make(const QString &name, int count)
    {
        const QString folder = m_work.path(QStringLiteral("%1-%2").arg(name).arg(count));
        const int exit = QProcess::execute("/usr/bin/python3", {suite::Data + "/make_crafted.py", "--out", folder,
                                                                "--count", QString::number(count), name});
        return exit == 0 ? folder + '/' + name + ".xlsx" : QString();
    }
};

void TestXlsxCrafted::calcChainLookAlikes_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("chain relationship to the shared strings") << "calcchain_sharedstrings.xlsx";
    QTest::newRow("chain relationship to the workbook") << "calcchain_workbook.xlsx";
    QTest::newRow("chain relationship to another sheet") << "calcchain_othersheet.xlsx";
    QTest::newRow("chain relationship to the edited sheet") << "calcchain_editedsheet.xlsx";
    QTest::newRow("a chain that a sheet uses as well") << "calcchain_shared.xlsx";
}

void TestXlsxCrafted::calcChainLookAlikes()
{
    QFETCH(QString, file);
    const QString path = m_work.copy(Crafted + file);
    const QStringList parts = entryNames(path);
    QStringList header;
    Table rows;
    QCOMPARE(MyXlsx::readSheet(path, "Sheet1", header, rows), 0);
    QCOMPARE(header, Header);
    QCOMPARE(rows, Rows);

    // B2 loses its formula, so the save looks for a calculation chain to drop.
    rows[0][1] = "42";
    QString error = "stale";
    QCOMPARE(MyXlsx::writeSheet(path, "Sheet1", header, rows, &error), 0);
    QCOMPARE(error, QString());
    QCOMPARE(entryNames(path), parts);
    Table again;
    QCOMPARE(MyXlsx::readSheet(path, "Sheet1", header, again), 0);
    QCOMPARE(again, (Table{{"distance", "42"}}));
    QCOMPARE(MyXlsx::readSheet(path, "Sheet2", header, again), 0);
    QCOMPARE(header, QStringList{"other"});
}

void TestXlsxCrafted::manyPrefixes_data()
{
    QTest::addColumn<int>("count");  // prefixes declared, and elements using the first
    QTest::newRow("2,000 prefixes") << 0;
    QTest::newRow("100,000 prefixes") << 100000;
}

void TestXlsxCrafted::manyPrefixes()
{
    QFETCH(int, count);
    const QString path = count == 0 ? m_work.copy(Crafted + "many_prefixes.xlsx") : make("many_prefixes", count);
    QVERIFY(!path.isEmpty());
    QCOMPARE(MyXlsx::listSheets(path), (QStringList{"Sheet1", "Sheet2"}));
    QStringList header;
    Table rows;
    QCOMPARE(MyXlsx::readSheet(path, "Sheet1", header, rows), 0);
    QCOMPARE(rows, Rows);
}

void TestXlsxCrafted::sheetCount_data()
{
    QTest::addColumn<int>("entries");  // <sheet> elements: S1, S2, S2, S4, S5, S5, ...
    QTest::addColumn<int>("names");    // distinct names listed; 0 when refused
    QTest::newRow("300 entries, every third a repeated name") << 300 << 200;
    QTest::newRow("4,096 entries") << 4096 << 2731;
    QTest::newRow("4,097 entries") << 4097 << 0;
    QTest::newRow("100,000 entries") << 100000 << 0;
}

void TestXlsxCrafted::sheetCount()
{
    QFETCH(int, entries);
    QFETCH(int, names);
    const QString path = entries == 300 ? m_work.copy(Crafted + "many_sheets.xlsx") : make("many_sheets", entries);
    QVERIFY(!path.isEmpty());
    QString error;
    const QStringList listed = MyXlsx::listSheets(path, &error);
    QCOMPARE(listed.size(), names);
    QStringList header;
    Table rows;
    if (names == 0) {
        QVERIFY2(error.startsWith(path + ": ") && error.contains("more than 4096 sheets"), qPrintable(error));
        QCOMPARE(MyXlsx::readSheet(path, "S1", header, rows), -4);
        return;
    }
    QCOMPARE(error, QString());
    QCOMPARE(listed.mid(0, 4), (QStringList{"S1", "S2", "S4", "S5"}));
    QCOMPARE(listed.last(), QStringLiteral("S%1").arg(entries - (entries % 3 == 0 ? 1 : 0)));
    QCOMPARE(QSet<QString>(listed.cbegin(), listed.cend()).size(), names);
    QCOMPARE(MyXlsx::readSheet(path, listed.last(), header, rows), 0);
    QCOMPARE(rows, Rows);
}

void TestXlsxCrafted::twoSheetsOnOnePart_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("one relationship id") << "shared_part_id.xlsx";
    QTest::newRow("two relationships, one target") << "shared_part_target.xlsx";
}

void TestXlsxCrafted::twoSheetsOnOnePart()
{
    QFETCH(QString, file);
    const QString path = m_work.copy(Crafted + file);
    const QByteArray before = fileBytes(path);
    QCOMPARE(MyXlsx::listSheets(path), (QStringList{"A", "B"}));
    for (const QString sheet : {"A", "B"}) {
        QStringList header;
        Table rows;
        QCOMPARE(MyXlsx::readSheet(path, sheet, header, rows), 0);
        QCOMPARE(rows, Rows);
        rows[0][0] = "changed";
        QString error;
        QCOMPARE(MyXlsx::writeSheet(path, sheet, header, rows, &error), -3);
        QVERIFY2(error.startsWith(path + ": ") && error.contains("stored in one part"), qPrintable(error));
        QCOMPARE(fileBytes(path), before);
    }
}

void TestXlsxCrafted::entriesCopiedAsStored_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("sheetPart");
    // Encrypted (flag bit 0), with a data descriptor and Info-ZIP's extra fields.
    QTest::newRow("entry added by zip -P") << Crafted + "encrypted_entry.xlsx" << "Sheet1" << "xl/worksheets/sheet1.xml";
    QTest::newRow("names in GBK without the UTF-8 flag")
        << Crafted + "gbk_names.xlsx" << "Sheet1" << "xl/worksheets/sheet1.xml";
    QTest::newRow("bytes before and after the archive")
        << Crafted + "bytes_around.xlsx" << "Sheet1" << "xl/worksheets/sheet1.xml";
    // Data descriptors and the UTF-8 flag on every entry.
    QTest::newRow("written by LibreOffice")
        << suite::Data + "/libreoffice_protocol.xlsx" << "holding" << "xl/worksheets/sheet1.xml";
}

void TestXlsxCrafted::entriesCopiedAsStored()
{
    QFETCH(QString, file);
    QFETCH(QString, sheet);
    QFETCH(QString, sheetPart);
    const QString path = m_work.copy(file);
    const QJsonObject before = suite::readback({"entries", path, "secret"}).object();
    QVERIFY(before.value("readable").toBool());
    QStringList header;
    Table rows;
    QCOMPARE(MyXlsx::readSheet(path, sheet, header, rows), 0);
    rows[0][0] = "changed";
    QCOMPARE(MyXlsx::writeSheet(path, sheet, header, rows), 0);

    // zipfile reads every entry, with its CRC; all but the edited sheet are
    // stored as they were, byte for byte, and that one keeps its name and flag.
    const QJsonObject after = suite::readback({"entries", path, "secret"}).object();
    QVERIFY(after.value("readable").toBool());
    const QJsonArray was = before.value("entries").toArray();
    const QJsonArray is = after.value("entries").toArray();
    QCOMPARE(is.size(), was.size());
    const QString edited = QString::fromLatin1(sheetPart.toUtf8().toHex());
    for (int i = 0; i < was.size(); ++i) {
        const QJsonObject a = was.at(i).toObject();
        const QJsonObject b = is.at(i).toObject();
        QCOMPARE(b.value("name"), a.value("name"));
        if (a.value("name").toString() == edited)
            QCOMPARE(b.value("flags").toInt() & 0x0800, a.value("flags").toInt() & 0x0800);
        else
            QVERIFY2(b == a, qPrintable(QJsonDocument(b).toJson(QJsonDocument::Compact)));
    }
    Table again;
    QCOMPARE(MyXlsx::readSheet(path, sheet, header, again), 0);
    QCOMPARE(again, rows);
}

void TestXlsxCrafted::refusedSaves_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("because");
    QTest::newRow("ZIP64 records (zip -fz)") << "zip64.xlsx" << "ZIP64";
    QTest::newRow("two entries on the same bytes") << "overlapping.xlsx" << "overlap";
}

void TestXlsxCrafted::refusedSaves()
{
    QFETCH(QString, file);
    QFETCH(QString, because);
    const QString path = m_work.copy(Crafted + file);
    const QByteArray before = fileBytes(path);
    QStringList header;
    Table rows;
    QCOMPARE(MyXlsx::readSheet(path, "Sheet1", header, rows), 0);
    QCOMPARE(rows, Rows);
    rows[0][0] = "changed";
    QString error;
    QCOMPARE(MyXlsx::writeSheet(path, "Sheet1", header, rows, &error), -3);
    QVERIFY2(error.startsWith(path + ": ") && error.contains(because), qPrintable(error));
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{file});
}

void TestXlsxCrafted::savesThroughALink()
{
    const QString target = m_work.copy(Crafted + "calcchain_workbook.xlsx");
    const QString link = QFileInfo(target).absolutePath() + "/link.xlsx";
    QVERIFY(QFile::link(target, link));
    QStringList header;
    Table rows;
    QCOMPARE(MyXlsx::readSheet(link, "Sheet1", header, rows), 0);
    rows[0][0] = "through the link";
    QCOMPARE(MyXlsx::writeSheet(link, "Sheet1", header, rows), 0);
    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    Table again;
    QCOMPARE(MyXlsx::readSheet(target, "Sheet1", header, again), 0);
    QCOMPARE(again, rows);
}

QTEST_GUILESS_MAIN(TestXlsxCrafted)
#include "tst_xlsxcrafted.moc"
