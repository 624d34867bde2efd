#include "tablewindowsuite.h"

#include "myconfig.h"
#include "tablefixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QtTest>

void TableWindowSuite::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_fixtures.isValid());
    const QString error = tablefixture::makeWorkbooks(m_fixtures.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TableWindowSuite::init()
{
    m_f = std::make_unique<WindowFixture>(m_suite);
    QVERIFY(m_f->isValid());
    m_catcher = std::make_unique<ModalCatcher>();
    m_workbook = m_f->copyIn(fixture(QStringLiteral("tables.xlsx")), QStringLiteral("tables.xlsx"));
    QVERIFY(!m_workbook.isEmpty());
}

void TableWindowSuite::cleanup()
{
    // The window goes while the catcher can still answer what its closing shows.
    m_f->destroy();
    m_catcher.reset();
    m_f.reset();
}

void TableWindowSuite::openWindow(const QString &workbook, const QString &area)
{
    MyConfig::protocolFile = workbook;
    MyConfig::regsType = area;
    m_f->create();
}

QString TableWindowSuite::cell(int row, int column) const
{
    const QTableWidgetItem *item = table()->item(row, column);
    return item ? item->text() : QStringLiteral("<no item>");
}

QStringList TableWindowSuite::headerLabels() const
{
    QStringList labels;
    for (int c = 0; c < table()->columnCount(); ++c)
        labels << table()->horizontalHeaderItem(c)->text();
    return labels;
}

QString TableWindowSuite::fieldText(const char *name) const
{
    return field(name)->text();
}

void TableWindowSuite::finish(const char *name, const QString &text)
{
    QLineEdit *edit = field(name);
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void TableWindowSuite::click(const char *button)
{
    m_f->child<QPushButton>(button)->click();
}
