// What the window takes from the toolkit, offscreen: the toolkit's own texts in Russian for a
// Russian locale, the captions of the design fitting their boxes at 96 dpi with the fonts the
// design names, and the file dialogs as the window's buttons open them: which files they list,
// which folder they open in, and that the process's current directory stays where it was.
#include "config/settings_file.h"
#include "tests/window/window_support.h"
#include "window/frm_main.h"
#include "window/toolkit.h"
#include "window/widget_controls.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace kalder;
using namespace kalder::test;

namespace {

// A text reads in Russian when its letters are Cyrillic, one at least. Mnemonic marks and
// the shortcut after a tab do not count; "OK", written alike in both alphabets, is kept in
// Latin letters by the toolkit's Russian translation.
bool readsRussian(QString text)
{
    text = text.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&'));
    if (text == QStringLiteral("OK"))
        return true;
    bool cyrillic = false;
    for (const QChar c : text) {
        if (!c.isLetter())
            continue;
        if (c.script() != QChar::Script_Cyrillic)
            return false;
        cyrillic = true;
    }
    return cyrillic;
}

QStringList buttonTexts(QWidget* dialog)
{
    QStringList out;
    if (auto* box = dialog->findChild<QDialogButtonBox*>())
        for (QAbstractButton* b : box->buttons())
            out.append(b->text());
    return out;
}

// Runs check on the modal dialog that opens next, then closes that dialog.
void onNextDialog(const std::function<void(QDialog*)>& check)
{
    QTimer::singleShot(0, [check] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d)
            return;
        check(d);
        d->reject();
    });
}

// The names a file dialog lists in its folder, once its model has read the folder.
QStringList listedFiles(QFileDialog* d, int expected)
{
    auto* view = d->findChild<QListView*>(QStringLiteral("listView"));
    if (!view)
        return {};
    auto names = [view] {
        QStringList out;
        const QModelIndex root = view->rootIndex();
        for (int r = 0; r < view->model()->rowCount(root); ++r)
            out.append(view->model()->index(r, 0, root).data().toString());
        out.sort();
        return out;
    };
    if (!QTest::qWaitFor([&] { return names().size() == expected; }, 5000))
        qWarning("the dialog did not list %d files", expected);
    return names();
}

void touch(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot create %s", qPrintable(path));
}

} // namespace

class TstToolkit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void toolkitTexts_data();
    void toolkitTexts();
    void captionsFit();
    void dialogFiles_data();
    void dialogFiles();

private:
    QTemporaryDir m_config;
};

void TstToolkit::initTestCase()
{
    QVERIFY(m_config.isValid());
    homeIn(m_config.path());
}

void TstToolkit::toolkitTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("surface");
    QTest::addColumn<bool>("russian");
    const QStringList surfaces{"file dialog buttons", "file dialog labels", "input box buttons", "message box buttons",
                               "text box context menu"};
    for (const QString& surface : surfaces) {
        QTest::addRow("ru_RU, %s", qPrintable(surface)) << "ru_RU" << surface << true;
        // The message box's one button reads "OK" in either language.
        if (!surface.startsWith(u"message box"))
            QTest::addRow("en_US, %s", qPrintable(surface)) << "en_US" << surface << false;
    }
}

void TstToolkit::toolkitTexts()
{
    QFETCH(QString, locale);
    QFETCH(QString, surface);
    QFETCH(bool, russian);
    const auto translations = toolkitTranslations(QLocale(locale));
    QCOMPARE(bool(translations), russian);
    if (translations)
        QVERIFY(QCoreApplication::installTranslator(translations.get()));

    QtDialogs dialogs;
    QStringList texts;
    if (surface.startsWith(u"file dialog")) {
        FileDialogRequest r;
        r.title = QStringLiteral("Выбор файла");
        r.initialFolder = m_config.path();
        onNextDialog([&](QDialog* d) {
            if (surface.endsWith(u"buttons")) {
                texts = buttonTexts(d);
                return;
            }
            for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
                if (auto* l = d->findChild<QLabel*>(QString::fromLatin1(name)))
                    texts.append(l->text());
        });
        QCOMPARE(dialogs.fileName(r), QString());
    } else if (surface.startsWith(u"input box")) {
        onNextDialog([&](QDialog* d) { texts = buttonTexts(d); });
        QCOMPARE(
            dialogs.input(QStringLiteral("Введите номер правила:"), QStringLiteral("Определение правила"), QString()),
            QString());
    } else if (surface.startsWith(u"message box")) {
        onNextDialog([&](QDialog* d) { texts = buttonTexts(d); });
        dialogs.message(QStringLiteral("Анализ входных полей выполнен"), QStringLiteral("Kalder"),
                        Dialogs::Icon::Information);
    } else {
        QLineEdit box(QStringLiteral("demo.xls"));
        const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                texts.append(a->text());
    }

    QVERIFY(!texts.isEmpty());
    const bool allRussian = std::all_of(texts.begin(), texts.end(), readsRussian);
    QVERIFY2(allRussian == russian, qPrintable(texts.join(u", ")));
}

void TstToolkit::captionsFit()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    // The design's measures are pixels at 96 dpi; the fonts' sizes are points.
    QCOMPARE(w.logicalDpiY(), 96);
    QCOMPARE(QFontInfo(w.Label3->font()).family(), WindowFamily);

    QStringList clipped;
    auto fits = [&](const QString& what, const QString& text, const QFont& font, int width, int height) {
        // Centred in the button or the column: the ink of the text must fit between the margins.
        const QRect ink = QFontMetrics(font).tightBoundingRect(text);
        const int needW = ink.width();
        const int needH = ink.height();
        if (needW > width || needH > height)
            clipped.append(QStringLiteral("%1 \"%2\": %3x%4 in %5x%6")
                               .arg(what, text)
                               .arg(needW)
                               .arg(needH)
                               .arg(width)
                               .arg(height));
    };
    // A label draws its letters at whole pixels; what they cover must lie inside the label.
    for (QLabel* l : w.findChildren<QLabel*>()) {
        auto* caption = qobject_cast<CaptionLabel*>(l);
        QVERIFY2(caption && !caption->glyphRun().glyphIndexes().isEmpty(), qPrintable(l->objectName()));
        const QRectF ink = caption->inkRect();
        if (!QRectF(caption->rect()).contains(ink))
            clipped.append(QStringLiteral("%1 \"%2\": %3..%4 x %5..%6 in %7x%8")
                               .arg(l->objectName(), l->text())
                               .arg(ink.left())
                               .arg(ink.right())
                               .arg(ink.top())
                               .arg(ink.bottom())
                               .arg(l->width())
                               .arg(l->height()));
    }
    for (QPushButton* b : w.findChildren<QPushButton*>()) {
        const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        fits(b->objectName(), b->text(), b->font(), b->width() - 2 * margin, b->height());
    }
    for (QTreeWidget* list : {static_cast<QTreeWidget*>(w.lv_Fields), static_cast<QTreeWidget*>(w.lv),
                              static_cast<QTreeWidget*>(w.lv_DB)}) {
        QHeaderView* header = list->header();
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int c = 0; c < list->columnCount(); ++c)
            fits(QStringLiteral("%1 column %2").arg(list->objectName()).arg(c + 1), list->headerItem()->text(c),
                 header->font(), header->sectionSize(c) - 2 * margin, header->height());
    }
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(u"; ")));
}

void TstToolkit::dialogFiles_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("filter"); // the 1-based filter selected in the dialog
    QTest::addColumn<QStringList>("listed");

    const QStringList all{"E.DB",      "a.db",  "b.sqlite", "book.xls", "book.xlsm", "book.xlsx",
                          "c.sqlite3", "d.db3", "data.csv", "noext",    "notes.txt", "sheet.ods"};
    QTest::newRow("database, SQLite files, any letter case")
        << "Command_SetPathToDB" << 1 << QStringList{"E.DB", "a.db", "b.sqlite", "c.sqlite3", "d.db3"};
    QTest::newRow("database, all files") << "Command_SetPathToDB" << 2 << all;
    QTest::newRow("workbook, every format the reader opens")
        << "Command_SelectFile" << 1 << QStringList{"book.xls", "book.xlsm", "book.xlsx", "data.csv", "sheet.ods"};
    QTest::newRow("workbook, all files") << "Command_SelectFile" << 2 << all;
}

void TstToolkit::dialogFiles()
{
    QFETCH(QString, button);
    QFETCH(int, filter);
    QFETCH(QStringList, listed);

    QTemporaryDir folder;
    for (const QString& name : QStringList{"E.DB", "a.db", "b.sqlite", "c.sqlite3", "d.db3", "book.xls", "book.xlsm",
                                           "book.xlsx", "data.csv", "noext", "notes.txt", "sheet.ods"})
        touch(folder.filePath(name));
    const QString cwd = QDir::currentPath();

    AppState state;
    FrmMain w(state); // the Qt dialogs
    w.load();
    // The boxes name files of the folder, so each dialog opens there.
    w.Text_PathToDB->setText(folder.filePath(QStringLiteral("a.db")));
    w.Text_FileName->setText(folder.filePath(QStringLiteral("book.xls")));

    QStringList seen, filters;
    QString suffix, directory;
    onNextDialog([&](QDialog* d) {
        auto* fd = qobject_cast<QFileDialog*>(d);
        if (!fd)
            return;
        filters = fd->nameFilters();
        suffix = fd->defaultSuffix();
        directory = fd->directory().absolutePath();
        fd->selectNameFilter(filters.value(filter - 1));
        seen = listedFiles(fd, int(listed.size()));
    });
    QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton);

    QCOMPARE(seen, listed);
    const bool database = button == u"Command_SetPathToDB";
    const QString own = database ? QStringLiteral("Выберите файл (*.db *.sqlite *.sqlite3 *.db3)")
                                 : QStringLiteral("Выберите файл (*.xls *.xlsx *.xlsm *.ods *.csv)");
    QCOMPARE(filters, (QStringList{own, QStringLiteral("All Files (*)")}));
    QCOMPARE(suffix, database ? QStringLiteral("db") : QStringLiteral("xls"));
    QCOMPARE(directory, QDir(folder.path()).absolutePath());
    QCOMPARE(QDir::currentPath(), cwd);
}

QTEST_MAIN(TstToolkit)
#include "tst_toolkit.moc"
