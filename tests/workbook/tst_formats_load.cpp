// The header analysis and the load, end to end, on an .xlsx workbook: the same procedures as
// for .xls files, chosen by nothing but the file's content.
#include "app/base/state.h"
#include "window/controls/memory_controls.h"
#include "db/connection.h"
#include "tests/support/support.h"
#include "workbook/data_load.h"
#include "workbook/header_analysis.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;

class TstFormatsLoad : public QObject {
    Q_OBJECT
private slots:
    void analysisAndLoad();
};

void TstFormatsLoad::analysisAndLoad()
{
    const QString book = QStringLiteral(KALDER_FIXTURES "/formats/load.xlsx");
    test::MemoryForm form;
    QCOMPARE(xls_FieldsName(form.lv_Fields, form.pb, form.pointer, form.dialogs, book, 1, 5), false);
    QStringList fields;
    for (int i = 1; i <= form.lv_Fields.count(); ++i) fields.append(form.lv_Fields.text(i) + u'|' + form.lv_Fields.subItem(i, 1));
    QCOMPARE(fields, (QStringList{u"Код|1"_s, u"Имя|2"_s, u"Мин|3"_s, u"Макс|4"_s}));

    test::Database db(test::KeyMinMaxTable);
    AppState& state = db.state;
    for (const auto& [rule, col, field] : {std::tuple{"1", "1", "Key"}, {"2", "3", "MinV"}, {"3", "4", "MaxV"}}) {
        const int row = form.lv.count() + 1;
        form.lv.add(row, QString::fromLatin1(rule));
        form.lv.setSubItem(row, 1, QString::fromLatin1(col));
        form.lv.setSubItem(row, 2, form.lv_Fields.text(QString::fromLatin1(col).toInt()));   // as the analysis listed it
        form.lv.setSubItem(row, 3, QString::fromLatin1(field));
        form.lv.setSubItem(row, 4, QString());
    }
    // "1.50" of a "0.00" cell converts under the locale whose decimals the format writes
    QCOMPARE(xls_DataUpdate(state, form.ui, book, 1, 5, QLocale(u"ru_RU"_s)), false);
    QCOMPARE(form.dialogs.texts(), QStringList{});
    QSqlQuery q(state.DBConnection->database());
    QVERIFY(q.exec(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY Key"_s));
    QStringList rows;
    while (q.next()) rows.append(q.value(0).toString() + u'|' + q.value(1).toString() + u'|' + q.value(2).toString());
    QCOMPARE(rows, (QStringList{u"A-1|3|30"_s, u"B-2|7|8"_s, u"C-3|1.5|2.25"_s}));
    QCOMPARE(form.Text_DBRecordCountNew.text(), u"3"_s);
}

QTEST_GUILESS_MAIN(TstFormatsLoad)
#include "tst_formats_load.moc"
