#ifndef TABLEWINDOWSUITE_H
#define TABLEWINDOWSUITE_H

#include "modalcatcher.h"
#include "windowfixture.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QLineEdit;
class QTableWidget;

// Base of the protocol table suites that drive the main window: the fixture workbooks of
// make_fixtures.py, written once per run; per test a window fixture with a copy of tables.xlsx
// and a catcher that answers the boxes the test provokes. The suites add their test slots.
class TableWindowSuite : public QObject
{
    Q_OBJECT
protected:
    explicit TableWindowSuite(const QString &suite)
        : m_suite(suite)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    QString fixture(const QString &name) const { return m_fixtures.filePath(name); }
    // Builds the window on `workbook` with `area` as the stored area.
    void openWindow(const QString &workbook, const QString &area = QStringLiteral("hold"));
    QTableWidget *table() const { return m_f->table; }
    QString cell(int row, int column) const;
    QStringList headerLabels() const;
    QLineEdit *field(const char *name) const { return m_f->child<QLineEdit>(name); }
    QString fieldText(const char *name) const;
    // Types into a field and presses Enter.
    void finish(const char *name, const QString &text);
    void click(const char *button);
    void selectSheet(const QString &name) { m_f->area->setCurrentText(name); }

    std::unique_ptr<WindowFixture> m_f;
    std::unique_ptr<ModalCatcher> m_catcher;
    QString m_workbook; // the copy of tables.xlsx in the fixture's directory

private:
    QString m_suite;
    QTemporaryDir m_fixtures;
};

// Status-bar text of a resolve that failed, before its reason.
inline const QString resolveFailed = QStringLiteral("解析失败：");

#endif // TABLEWINDOWSUITE_H
