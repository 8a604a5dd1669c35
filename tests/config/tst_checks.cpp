// The number rule in two locales, the two checks, and the file dialog's request.
#include "app/base/failure.h"
#include "config/checks.h"
#include "tests/support/support.h"

#include <QDir>
#include <QTest>

using namespace kalder;
using kalder::test::RecordingDialogs;

namespace {
const QString BadNumber = QStringLiteral("Введенное значение может содержать только цифры и быть не отрицательным");
const QChar Nul(u'\0');
} // namespace

class TstChecks : public QObject {
    Q_OBJECT

private slots:
    void numberRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("normal"); // the box's text afterwards
        const QStringList both{QStringLiteral("C"), QStringLiteral("ru_RU")};
        for (const QString& l : both) {
            const auto row = [&](const char* name) -> QTestData& {
                return QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1StringView(name), l)));
            };
            row("plain") << "15" << l << true << "15";
            row("blanks and leading zeros") << " 007 " << l << true << "7";
            row("minus zero") << "-0" << l << true << "0";
            row("plus sign") << "+4" << l << true << "4";
            row("negative") << "-1" << l << false << "-1";
            row("letters") << "abc" << l << false << "abc";
            row("digits then letters") << "12abc" << l << false << "12abc";
            row("largest") << "2147483647" << l << true << "2147483647";
            row("beyond 32 bits") << "2147483648" << l << false << "2147483648";
            row("infinity") << "inf" << l << false << "inf";
            row("not a number") << "nan" << l << false << "nan";
        }
        QTest::newRow("half down to even, C") << "2.5"
                                              << "C" << true << "2";
        QTest::newRow("half up to even, C") << "3.5"
                                            << "C" << true << "4";
        QTest::newRow("fraction, C") << "1.5"
                                     << "C" << true << "2";
        QTest::newRow("above half, C") << "12.6"
                                       << "C" << true << "13";
        QTest::newRow("small negative fraction, C") << "-0.4"
                                                    << "C" << true << "0";
        QTest::newRow("half of 32 bits rounds beyond, C") << "2147483647.5"
                                                          << "C" << false << "2147483647.5";
        QTest::newRow("half to even, ru_RU") << "2,5"
                                             << "ru_RU" << true << "2";
        QTest::newRow("fraction, ru_RU") << "1,5"
                                         << "ru_RU" << true << "2";
        QTest::newRow("small negative fraction, ru_RU") << "-0,4"
                                                        << "ru_RU" << true << "0";
    }
    void numberRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(bool, accepted);
        QFETCH(QString, normal);
        const QLocale loc(locale);
        RecordingDialogs dialogs;
        QCOMPARE(chk_StrNum(text, dialogs, loc), !accepted);

        MemoryTextBox box(text);
        QCOMPARE(chk_TextNum(box, dialogs, loc), !accepted);
        QCOMPARE(box.text(), normal);
        const int messages = accepted ? 0 : 2;
        QCOMPARE(dialogs.shown.size(), messages);
        for (const auto& s : dialogs.shown) {
            QCOMPARE(s.text, BadNumber);
            QCOMPARE(s.title, "Kalder");
            QCOMPARE(s.icon, Dialogs::Icon::Exclamation);
        }
        QCOMPARE(box.focused(), !accepted);
        if (!accepted) {
            QCOMPARE(box.selStart(), 0);
            QCOMPARE(box.selLength(), int(text.size()));
        }
    }

    void emptyText()
    {
        RecordingDialogs dialogs;
        MemoryTextBox box;
        QCOMPARE(chk_TextNum(box, dialogs, QLocale::c()), true); // empty box: refused silently
        QCOMPARE(dialogs.shown.size(), 0);
        QVERIFY(!box.focused());
        QCOMPARE(chk_StrNum(QString(), dialogs, QLocale::c()), true); // empty answer: the message
        QCOMPARE(dialogs.texts(), QStringList{BadNumber});
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -999 for nothing
        QTest::newRow("digits then letters") << "12abc" << 12;
        QTest::newRow("no number") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("blanks inside") << " 1 2\t3\n4" << 1234;
        QTest::newRow("sign") << "-17x" << -17;
        QTest::newRow("sign alone") << "-" << 0;
        QTest::newRow("half to even") << "2.5" << 2;
        QTest::newRow("half up to even") << "3.5" << 4;
        QTest::newRow("dot first") << ".7" << 1;
        QTest::newRow("comma stops") << "1,5" << 1;
        QTest::newRow("exponent") << "1.5e3" << 1500;
        QTest::newRow("exponent without digits") << "12e" << 12;
        QTest::newRow("tiny exponent") << "5e-999" << 0;
        QTest::newRow("cyrillic stops") << "7д" << 7;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("beyond 32 bits") << "2147483648" << -999;
        QTest::newRow("huge exponent") << "1e999" << -999;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto n = leadingInt32(text);
        if (expected == -999)
            QVERIFY(!n);
        else
            QCOMPARE(n, std::optional<qint32>(expected));
    }

    void fileDialogRequest()
    {
        RecordingDialogs dialogs;
        dialogs.files = {QStringLiteral("/data/book.xls")};
        qint32 flags = 2;
        const QString filter = QStringLiteral("Выберите файл (*.xls)") + Nul + QStringLiteral("*.xls") + Nul +
                               QStringLiteral("All Files (*.*)") + Nul + QStringLiteral("*.*") + Nul;
        QCOMPARE(dlg_FileName(flags, QStringLiteral("/start"), filter, 2, QStringLiteral(".xls"),
                              QStringLiteral("a.xls"), QStringLiteral("Выбор файла"), -1, true, dialogs),
                 "/data/book.xls");
        QCOMPARE(flags, 2);
        QCOMPARE(dialogs.requests.size(), 1);
        const FileDialogRequest& r = dialogs.requests[0];
        QCOMPARE(r.title, "Выбор файла");
        QCOMPARE(r.filters, (QStringList{QStringLiteral("Выберите файл (*.xls)"), QStringLiteral("All Files (*.*)")}));
        QCOMPARE(r.patterns, (QStringList{QStringLiteral("*.xls"), QStringLiteral("*.*")}));
        QCOMPARE(r.filterIndex, 2);
        QCOMPARE(r.initialFolder, "/start");
        QCOMPARE(r.defaultExtension, "xls");
        QCOMPARE(r.fileName, "a.xls");
        QVERIFY(r.open);
        QVERIFY(!r.overwritePrompt);
    }

    void fileDialogVariants_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<int>("entries");
        QTest::addColumn<bool>("overwritePrompt");
        const QString two = QStringLiteral("A") + Nul + QStringLiteral("*.a") + Nul + QStringLiteral("B") + Nul +
                            QStringLiteral("*.b") + Nul;
        QTest::newRow("save asks before overwriting") << false << 1 << two << 1 << 2 << true;
        QTest::newRow("index beyond the entries") << true << 5 << two << 1 << 2 << false;
        QTest::newRow("index 0") << true << 0 << two << 1 << 2 << false;
        QTest::newRow("no filter") << true << 1 << QString() << 1 << 0 << false;
        QTest::newRow("description without pattern dropped")
            << true << 1 << QString(QStringLiteral("A") + Nul + QStringLiteral("*.a") + Nul + QStringLiteral("B")) << 1
            << 1 << false;
    }
    void fileDialogVariants()
    {
        QFETCH(bool, open);
        QFETCH(int, index);
        QFETCH(QString, filter);
        QFETCH(int, expectedIndex);
        QFETCH(int, entries);
        QFETCH(bool, overwritePrompt);
        RecordingDialogs dialogs;
        qint32 flags = 2;
        dlg_FileName(flags, std::nullopt, filter, index, QStringLiteral("mdb"), QString(), QString(), 0, open, dialogs);
        QCOMPARE(dialogs.requests.size(), 1);
        const FileDialogRequest& r = dialogs.requests[0];
        QCOMPARE(r.open, open);
        QCOMPARE(r.filterIndex, expectedIndex);
        QCOMPARE(r.filters.size(), entries);
        QCOMPARE(r.patterns.size(), entries);
        QCOMPARE(r.overwritePrompt, overwritePrompt);
        QCOMPARE(r.initialFolder, QDir::currentPath()); // omitted: the current directory
        QCOMPARE(r.defaultExtension, "mdb");
    }

    void fileDialogCancelKeepsFlags()
    {
        RecordingDialogs dialogs;
        qint32 flags = 2;
        QCOMPARE(dlg_FileName(flags, QString(), QString(), 1, QString(), QString(), QString(), -1, true, dialogs), "");
        QCOMPARE(flags, 2);
    }

    void fileDialogLongPathWhole()
    {
        // The old 256-character buffer made a longer choice look like a cancel.
        RecordingDialogs dialogs;
        const QString path = QStringLiteral("/") + QString(300, u'д') + QStringLiteral(".xls");
        dialogs.files = {path};
        qint32 flags = 2;
        QCOMPARE(
            dlg_FileName(flags, QString(), QString(), 1, QString(), QString(300, u'a'), QString(), -1, true, dialogs),
            path);
        QCOMPARE(dialogs.requests[0].fileName, QString(300, u'a'));
    }
};

QTEST_GUILESS_MAIN(TstChecks)
#include "tst_checks.moc"
