// settings.cfg read and written in a folder of its own, as the application folder.
#include "app/base/failure.h"
#include "config/settings_file.h"
#include "db/connection.h"
#include "tests/support/file_rights.h"
#include "tests/support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kalder;
using kalder::test::RecordingDialogs;

class TstSettingsFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString cfg() const { return m_dir->filePath(QStringLiteral("settings.cfg")); }
    void writeCfg(const QByteArray& bytes) const
    {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readCfg() const
    {
        QFile f(cfg());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        setApplicationFolderForTesting(m_dir->path());
    }
    void cleanup()
    {
        setApplicationFolderForTesting(QString());
        QDir::setCurrent(QCoreApplication::applicationDirPath());
        QLocale::setDefault(QLocale::c());
        m_dir.reset();
    }

    void applicationFolderIsTheExecutables()
    {
        setApplicationFolderForTesting(QString());
        QCOMPARE(applicationFolder(), QCoreApplication::applicationDirPath());
        QDir::setCurrent(QDir::tempPath());
        enterSettingsFolder();
        QCOMPARE(QDir::currentPath(), QDir(QCoreApplication::applicationDirPath()).canonicalPath());
    }

    void grammar_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // PathToDB starts as "before"
        QTest::newRow("empty file") << QByteArray() << "before";
        QTest::newRow("comments only") << QByteArray("#PATHTODB=x\r\n# y\r\n") << "before";
        QTest::newRow("plain") << QByteArray("PathToDB=D:\\base\\data.mdb") << "D:\\base\\data.mdb";
        QTest::newRow("blanks and case") << QByteArray(" pathtodb =  D:\\base\\data.mdb  ") << "D:\\base\\data.mdb";
        QTest::newRow("exactly empty value ignored") << QByteArray("PATHTODB=") << "before";
        QTest::newRow("blanks-only value sets empty") << QByteArray("PATHTODB=   ") << "";
        QTest::newRow("value keeps a second =") << QByteArray("PATHTODB=D:\\a=b\\data.mdb") << "D:\\a=b\\data.mdb";
        QTest::newRow("value starting with =") << QByteArray("PATHTODB==x") << "=x";
        QTest::newRow("blanks before # are no comment") << QByteArray("  # PATHTODB=x") << "before";
        QTest::newRow("tab before = stops the key") << QByteArray("PATHTODB\t=x") << "before";
        QTest::newRow("tab in the value kept") << QByteArray("PATHTODB=\tx\t") << "\tx\t";
        QTest::newRow("other keys ignored") << QByteArray("Other=1\r\nPATHTODBX=2\r\n=3") << "before";
        QTest::newRow("last line wins, CR LF") << QByteArray("PATHTODB=a\r\nPATHTODB=b\r\n") << "b";
        QTest::newRow("lone LF ends a line") << QByteArray("PATHTODB=a\nPATHTODB=b") << "b";
        QTest::newRow("lone CR ends a line") << QByteArray("PATHTODB=a\rPATHTODB=b\r") << "b";
        QTest::newRow("comment after value line") << QByteArray("PATHTODB=a\n#PATHTODB=b\n\n") << "a";
        QTest::newRow("utf-8 path") << QByteArray("PATHTODB=/data/База.db") << "/data/База.db";
    }
    void grammar()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        writeCfg(bytes);
        AppState state;
        state.PathToDB = QStringLiteral("before");
        RecordingDialogs dialogs;
        QCOMPARE(get_PathToDB(state, dialogs), false);
        QCOMPARE(dialogs.texts(), QStringList());
        QCOMPARE(state.PathToDB, expected);
        QCOMPARE(QDir::currentPath(), QDir(m_dir->path()).canonicalPath());
    }

    void writeThenRead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("plain") << "D:\\base\\data.mdb" << QByteArray("PathToDB=D:\\base\\data.mdb")
                               << "D:\\base\\data.mdb";
        QTest::newRow("blanks dropped on reading") << " a.db " << QByteArray("PathToDB= a.db ") << "a.db";
        QTest::newRow("= in the path") << "/x=y/a=b.db" << QByteArray("PathToDB=/x=y/a=b.db") << "/x=y/a=b.db";
        QTest::newRow("cyrillic in UTF-8")
            << "База.db" << QByteArray("PathToDB=\xD0\x91\xD0\xB0\xD0\xB7\xD0\xB0.db") << "База.db";
        QTest::newRow("empty text") << "" << QByteArray("PathToDB=") << "keep";
    }
    void writeThenRead()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, readBack);
        writeCfg("PathToDB=old/and/longer/than/the/new/one.db\r\n");
        RecordingDialogs dialogs;
        MemoryTextBox box(text);
        QCOMPARE(set_Settings(box, dialogs), false);
        QCOMPARE(readCfg(), bytes);
        AppState state;
        state.PathToDB = QStringLiteral("keep");
        QCOMPARE(get_PathToDB(state, dialogs), false);
        QCOMPARE(state.PathToDB, readBack);
        QCOMPARE(dialogs.texts(), QStringList());
    }

    void windowsCodePageFallback_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ru_RU reads CP1251") << "ru_RU"
                                            << "D:\\База\\data.mdb";
        QTest::newRow("C reads CP1252") << "C"
                                        << "D:\\Áàçà\\data.mdb";
    }
    void windowsCodePageFallback()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(locale));
        writeCfg("PathToDB=D:\\\xC1\xE0\xE7\xE0\\data.mdb\r\n");
        AppState state;
        RecordingDialogs dialogs;
        QCOMPARE(get_PathToDB(state, dialogs), false);
        QCOMPARE(state.PathToDB, expected);
    }

    void readFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message"); // exact, or "...(n)" for the end of the text
        QTest::addColumn<QString>("pathAfter");
        QTest::newRow("no file") << "none"
                                 << "Не найден конфигурационный файл"
                                 << "before";
        QTest::newRow("key without =") << "PATHTODB=first\r\nPATHTODB\r\nPATHTODB=never"
                                       << "...(9)"
                                       << "first";
        QTest::newRow("folder named settings.cfg") << "folder"
                                                   << "...(75)"
                                                   << "before";
        QTest::newRow("application folder gone") << "gone"
                                                 << "...(76)"
                                                 << "before";
        QTest::newRow("file of 3 MB, one line") << "huge"
                                                << "...(6)"
                                                << "before";
        QTest::newRow("path of 40 KB") << "long path"
                                       << "...(6)"
                                       << "first";
    }
    void readFailures()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(QString, pathAfter);
        if (setup == u"folder")
            QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("settings.cfg")));
        else if (setup == u"gone")
            setApplicationFolderForTesting(m_dir->filePath(QStringLiteral("missing")));
        else if (setup == u"huge")
            writeCfg("PATHTODB=" + QByteArray(3 << 20, 'x'));
        else if (setup == u"long path")
            writeCfg("PATHTODB=first\r\nPATHTODB=" + QByteArray(40 << 10, 'x') + "\r\n");
        else if (setup != u"none")
            writeCfg(setup.toUtf8());
        AppState state;
        state.PathToDB = QStringLiteral("before");
        RecordingDialogs dialogs;
        QCOMPARE(get_PathToDB(state, dialogs), true);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].title, "get_PathToDB");
        QCOMPARE(dialogs.shown[0].icon, Dialogs::Icon::Exclamation);
        if (message.startsWith(u"..."))
            QVERIFY2(dialogs.shown[0].text.endsWith(u' ' + message.mid(3)), qPrintable(dialogs.shown[0].text));
        else
            QCOMPARE(dialogs.shown[0].text, message);
        QCOMPARE(state.PathToDB, pathAfter);
        if (message == u"...(6)")
            QVERIFY2(dialogs.shown[0].text.contains(u"settings.cfg"), qPrintable(dialogs.shown[0].text));
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("end");
        QTest::newRow("folder named settings.cfg") << "folder"
                                                   << " (75)";
        QTest::newRow("application folder gone") << "gone"
                                                 << " (76)";
    }
    void writeFailures()
    {
        QFETCH(QString, setup);
        QFETCH(QString, end);
        if (setup == u"folder")
            QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("settings.cfg")));
        else
            setApplicationFolderForTesting(m_dir->filePath(QStringLiteral("missing")));
        RecordingDialogs dialogs;
        MemoryTextBox box(QStringLiteral("a.db"));
        QCOMPARE(set_Settings(box, dialogs), false);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].title, "set_Settings");
        QCOMPARE(dialogs.shown[0].icon, Dialogs::Icon::Exclamation);
        QVERIFY2(dialogs.shown[0].text.endsWith(end), qPrintable(dialogs.shown[0].text));
        QVERIFY(!QFileInfo(m_dir->filePath(QStringLiteral("missing/settings.cfg"))).exists());
    }

    void unreadableFile()
    {
        writeCfg("PATHTODB=x");
        QFile::setPermissions(cfg(), QFileDevice::Permissions());
        const kalder::test::WithoutFileRights asAnyUser; // root, as in CI, is refused too
        QFile probe(cfg());
        QVERIFY2(!probe.open(QIODevice::ReadOnly), "a file without permissions opened");
        AppState state;
        RecordingDialogs dialogs;
        QCOMPARE(get_PathToDB(state, dialogs), true);
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY2(dialogs.shown[0].text.endsWith(u" (75)"), qPrintable(dialogs.shown[0].text));
        QVERIFY(dialogs.shown[0].text.contains(u"settings.cfg"));
        QCOMPARE(state.PathToDB, QString());
    }
};

QTEST_GUILESS_MAIN(TstSettingsFile)
#include "tst_settings_file.moc"
