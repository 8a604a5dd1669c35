// The two buttons beyond the design and what they open: the check of a load without writing,
// whose window shows its findings in a table that sorts and filters and saves them as .csv, and
// the undo of the last load after the operator confirms it.
#include "app/base/failure.h"
#include "tests/window/window_support.h"
#include "window/frm_main.h"
#include "window/preview_window.h"

#include <QAbstractItemModel>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalder;
using namespace kalder::test;
using namespace Qt::StringLiterals;

namespace {

const QString Workbook = QStringLiteral(KALDER_FIXTURES "/load/basic.xls");

QByteArray hashOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

// A window on a database with tblData, its links made as after an analysis of basic.xls.
struct Session {
    QTemporaryDir dir;
    QString path = dir.filePath(u"data.db"_s);
    AppState state;
    RecordingDialogs dialogs;
    std::unique_ptr<FrmMain> window;

    Session()
    {
        makeDatabase(path, {u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL)"_s, test::SettingsTable,
                            u"INSERT INTO tblData VALUES ('A-1', 4, 20)"_s});
        openSession(state, path);
        window = std::make_unique<FrmMain>(state, &dialogs);
        window->load();
        FormControls& ui = window->controls();
        ui.Text_FileName->setText(Workbook);
        ui.Text_StrNumWithCapt->setText(u"1"_s);
        ui.Text_StrNumMAX->setText(u"12"_s);
        for (const auto& [rule, col, header, field] :
             {std::tuple{"1", "1", "Код", "Key"}, {"2", "3", "Мин", "MinV"}, {"3", "4", "Макс", "MaxV"}}) {
            const int row = ui.lv->count() + 1;
            ui.lv->add(row, QString::fromLatin1(rule));
            ui.lv->setSubItem(row, 1, QString::fromLatin1(col));
            ui.lv->setSubItem(row, 2, QString::fromUtf8(header));
            ui.lv->setSubItem(row, 3, QString::fromLatin1(field));
        }
    }
    int records() const
    {
        QSqlQuery q(state.DBConnection->database());
        return q.exec(u"SELECT count(*) FROM tblData"_s) && q.next() ? q.value(0).toInt() : -1;
    }
};

PreviewReport bigReport(int records)
{
    PreviewReport r;
    r.rowsRead = records + 2;
    r.added = records;
    for (int i = 0; i < records; ++i) {
        PreviewReport::Record rec;
        rec.key = u"K%1"_s.arg(i, 6, 10, QLatin1Char('0'));
        rec.newMin = double((i * 7919) % records);
        rec.newMax = rec.newMin + 1;
        r.records.append(rec);
    }
    r.rejections.append({5, 3, u"abc; \"x\""_s, u"не является числом"_s});
    return r;
}

} // namespace

class TstPreviewWindow : public QObject {
    Q_OBJECT
private slots:
    void buttonsFollowTheLoad();
    void previewShowsWithoutWriting();
    void undoAsksFirst();
    void tableSortsAndFilters();
    void savedAsCsv();
};

void TstPreviewWindow::buttonsFollowTheLoad()
{
    // Without a database the two are disabled with the load; with one, enabled with it.
    AppState none;
    RecordingDialogs dialogs;
    FrmMain bare(none, &dialogs);
    bare.load();
    QVERIFY(!bare.Command_Update->isEnabled() && !bare.Command_Preview->isEnabled() && !bare.Command_Undo->isEnabled());
    Session s;
    FrmMain& w = *s.window;
    QVERIFY(w.Command_Update->isEnabled() && w.Command_Preview->isEnabled() && w.Command_Undo->isEnabled());
    QCOMPARE(w.Command_Preview->text(), u"Проверить без записи"_s);
    QCOMPARE(w.Command_Undo->text(), u"Отменить последнюю загрузку"_s);
    // in the free area right of the rules legend, clear of every control of the design
    for (QPushButton* b : {w.Command_Preview, w.Command_Undo}) {
        QVERIFY(b->geometry().left() >= w.Text_Rules->geometry().right());
        QVERIFY(b->geometry().top() >= w.lv_DB->geometry().bottom());
        QVERIFY(b->geometry().bottom() < w.Label4->geometry().top());
        QVERIFY(b->geometry().right() <= w.width());
    }
    // after Command_Update in the tab order
    QCOMPARE(w.Command_Update->nextInFocusChain(), static_cast<QWidget*>(w.Command_Preview));
    QCOMPARE(w.Command_Preview->nextInFocusChain(), static_cast<QWidget*>(w.Command_Undo));
}

void TstPreviewWindow::previewShowsWithoutWriting()
{
    Session s;
    const QByteArray before = hashOf(s.path);
    QTest::mouseClick(s.window->Command_Preview, Qt::LeftButton);
    QCOMPARE(s.dialogs.texts(), QStringList{});
    QCOMPARE(s.dialogs.previews.size(), 1);
    const PreviewReport& r = s.dialogs.previews[0];
    QCOMPARE(r.added, 6);
    QCOMPARE(r.widened, 1); // 4..20 becomes 3..31
    QCOMPARE(hashOf(s.path), before);
    QCOMPARE(s.records(), 1);
    QCOMPARE(s.window->controls().Text_DBRecordCountNew->text(), u"0"_s);
}

void TstPreviewWindow::undoAsksFirst()
{
    Session s;
    QTest::mouseClick(s.window->Command_Update, Qt::LeftButton);
    QCOMPARE(s.records(), 7);
    s.dialogs.shown.clear();
    // declined: nothing happens
    QTest::mouseClick(s.window->Command_Undo, Qt::LeftButton);
    QCOMPARE(s.dialogs.questions.size(), 1);
    QVERIFY2(s.dialogs.questions[0].contains(Workbook) && s.dialogs.questions[0].contains(u"добавлено записей: 6"_s) &&
                 s.dialogs.questions[0].contains(u"расширено: 1"_s),
             qPrintable(s.dialogs.questions[0]));
    QCOMPARE(s.records(), 7);
    // confirmed: taken back, and the counter shows the table again
    s.dialogs.replies = {true};
    QTest::mouseClick(s.window->Command_Undo, Qt::LeftButton);
    QCOMPARE(s.records(), 1);
    QCOMPARE(s.window->controls().Text_DBRecordCount->text(), u"1"_s);
    QVERIFY2(s.dialogs.texts().value(0).startsWith(u"Загрузка отменена"_s), qPrintable(s.dialogs.texts().value(0)));
}

void TstPreviewWindow::tableSortsAndFilters()
{
    const PreviewReport report = bigReport(100000);
    PreviewWindow w(report);
    QCOMPARE(w.records()->model()->rowCount(), 100000);
    QVERIFY2(w.totals().contains(u"Новых записей: 100000"_s), qPrintable(w.totals()));
    QCOMPARE(w.rejections()->model()->rowCount(), 1);
    // sorted by the new minimum as numbers, not as texts ("10" after "9")
    w.records()->sortByColumn(3, Qt::AscendingOrder);
    QAbstractItemModel* m = w.records()->model();
    double previous = -1;
    for (int row = 0; row < 20; ++row) {
        const double v = QLocale::system().toDouble(m->index(row, 3).data().toString());
        QVERIFY(v >= previous);
        previous = v;
    }
    w.filter()->setText(u"k00012"_s); // the key, without regard to case
    QCOMPARE(m->rowCount(), 10);
    QCOMPARE(m->index(0, 1).data().toString(), u"новая"_s);
}

void TstPreviewWindow::savedAsCsv()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"check.csv"_s);
    PreviewWindow::save(bigReport(3), path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes.mid(3));
    QVERIFY2(text.contains(u"Ключ;Изменение;MIN было;MIN станет;MAX было;MAX станет\r\n"_s), qPrintable(text));
    QVERIFY2(text.contains(u"K000001;новая;;"_s), qPrintable(text));
    QVERIFY2(text.contains(u"5;3;\"abc; \"\"x\"\"\";не является числом\r\n"_s),
             qPrintable(text)); // quoted as CSV quotes
    const auto f2 = failureOf([&] { PreviewWindow::save(bigReport(1), dir.filePath(u"нет/такой/папки.csv"_s)); });
    QVERIFY(f2 && f2->description().contains(u"нет/такой/папки.csv"_s));
}

QTEST_MAIN(TstPreviewWindow)
#include "tst_preview_window.moc"
