// kalder-load: a developer command beside the window that runs a load as the operator gets it.
// It opens the database as the start-up does, runs the window's load handling on the window's
// controls kept in memory (the same refusals as the widgets, without the toolkit's start, its
// fonts and its libraries), fills the three boxes and the link list as the operator would, and
// runs what a click of Command_Update runs (with --preview, of the check without writing; with --undo,
// of the undo of the last load). Every message box it would show goes to standard output as
// one line "icon<TAB>title<TAB>text", a question as "question<TAB>title<TAB>text<TAB>yes" (it
// answers yes), then "counts<TAB>N<TAB>M" with the two counters. The preview prints
// "totals<TAB>read<TAB>skipped<TAB>added<TAB>widened<TAB>unchanged<TAB>rejected" and a line
// "rejected<TAB>row<TAB>column<TAB>text<TAB>reason" for each row the load would not take.
//
//   kalder-load [--locale NAME] --db DATABASE --workbook TEXT --header TEXT --last TEXT
//               [--link RULE:COLUMN:FIELD ...] [--preview]
//   kalder-load [--locale NAME] --db DATABASE --undo
//
// Exit status 0 when it ran to the end, whatever it showed; 2 for bad usage.
#include "app/base/failure.h"
#include "app/base/state.h"
#include "app/base/version.h"
#include "config/checks.h"
#include "db/connection.h"
#include "window/commands.h"
#include "window/controls/memory_controls.h"
#include "window/form_logic.h"
#include "workbook/readers/workbook.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <future>
#include <memory>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kalder;

namespace {

const char* const Usage = "usage: kalder-load [--locale NAME] --db DATABASE --workbook TEXT --header TEXT --last TEXT\n"
                          "                   [--link RULE:COLUMN:FIELD ...] [--preview]\n"
                          "       kalder-load [--locale NAME] --db DATABASE --undo\n";

struct Link {
    QString rule, column, field;
};

struct Arguments {
    QString locale, db, workbook, header, last;
    bool hasDb = false, hasWorkbook = false, hasHeader = false, hasLast = false;
    bool preview = false, undo = false;
    QList<Link> links;
};

// Messages as lines on standard output; the input box and the file dialog are cancelled.
class PrintingDialogs : public Dialogs {
public:
    void message(const QString& text, const QString& title, Icon icon) override
    {
        print((icon == Icon::Information ? QStringLiteral("information") : QStringLiteral("exclamation")) +
              QLatin1Char('\t') + title + QLatin1Char('\t') + oneLine(text));
    }
    // Line ends as "\n", tabs as spaces: one field of one line.
    static QString oneLine(QString text)
    {
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
        text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        text.replace(QLatin1Char('\r'), QStringLiteral("\\n"));
        text.replace(QLatin1Char('\t'), QLatin1Char(' '));
        return text;
    }
    QString input(const QString&, const QString&, const QString&) override { return QString(); }
    QString fileName(const FileDialogRequest&) override { return QString(); }
    bool question(const QString& text, const QString& title) override
    {
        print(QStringLiteral("question\t") + title + QLatin1Char('\t') + oneLine(text) + QStringLiteral("\tyes"));
        return true;
    }
    void preview(const PreviewReport& r) override
    {
        print(QStringList{QStringLiteral("totals"), QString::number(r.rowsRead), QString::number(r.rowsSkipped),
                          QString::number(r.added), QString::number(r.widened), QString::number(r.unchanged),
                          QString::number(r.rejections.size())}
                  .join(QLatin1Char('\t')));
        for (const PreviewReport::Rejection& x : r.rejections)
            print(QStringList{QStringLiteral("rejected"), QString::number(x.row), QString::number(x.column),
                              oneLine(x.text), oneLine(x.reason)}
                      .join(QLatin1Char('\t')));
    }

    static void print(const QString& line)
    {
        const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }
};

std::optional<Arguments> parse(int argc, char** argv)
{
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const QByteArray opt = argv[i];
        if (opt == "--preview" || opt == "--undo") {
            (opt == "--preview" ? a.preview : a.undo) = true;
            continue;
        }
        if (i + 1 >= argc)
            return std::nullopt;
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (opt == "--locale") {
            a.locale = value;
        } else if (opt == "--db") {
            a.db = value;
            a.hasDb = true;
        } else if (opt == "--workbook") {
            a.workbook = value;
            a.hasWorkbook = true;
        } else if (opt == "--header") {
            a.header = value;
            a.hasHeader = true;
        } else if (opt == "--last") {
            a.last = value;
            a.hasLast = true;
        } else if (opt == "--link") {
            // The field name runs to the end: it may itself hold ':'.
            const qsizetype first = value.indexOf(QLatin1Char(':'));
            const qsizetype second = first < 0 ? -1 : value.indexOf(QLatin1Char(':'), first + 1);
            if (second < 0)
                return std::nullopt;
            a.links.append({value.left(first), value.mid(first + 1, second - first - 1), value.mid(second + 1)});
        } else {
            return std::nullopt;
        }
    }
    if (!a.hasDb)
        return std::nullopt;
    if (a.undo) // the undo takes the database alone
        return a.preview || a.hasWorkbook || a.hasHeader || a.hasLast || !a.links.isEmpty() ? std::nullopt
                                                                                            : std::optional(a);
    if (!a.hasWorkbook || !a.hasHeader || !a.hasLast)
        return std::nullopt;
    return a;
}

// The header texts of the linked columns, "" for any that cannot be read.
QStringList headerTexts(const Arguments& a, const QLocale& locale)
{
    QStringList out;
    std::unique_ptr<RowCursor> book; // read down to the header row only
    const auto row = toInt32(a.header);
    QList<std::optional<int>> columns;
    Workbook::Part part; // only the header row of the linked columns is decoded
    for (const Link& link : a.links) {
        bool ok = false;
        const int col = link.column.trimmed().toInt(&ok);
        columns.append(ok ? std::optional(col) : std::nullopt);
        if (ok)
            part.columns.push_back(col);
    }
    try { // an unreadable workbook leaves the texts empty; the load reports it
        if (row && !part.columns.empty()) {
            part.rows = std::max(*row, 1);
            book = Workbook::openRows(a.workbook, locale, part);
        }
    } catch (const Failure&) {
    }
    for (const std::optional<int>& col : columns) {
        QString text;
        try { // a cell beyond the sheet, or a column that is no number, has no text
            if (book && col)
                text = book->cellText(*row, *col);
        } catch (const Failure&) {
        }
        out.append(text);
    }
    return out;
}

// The position lv_DB shows for a field of tblData, "" when it lists no such field.
QString positionOf(ListView& lvDB, const QString& field)
{
    for (int i = 1; i <= lvDB.count(); ++i)
        if (lvDB.text(i) == field)
            return lvDB.subItem(i, 1);
    return QString();
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Arguments> args = parse(argc, argv);
    if (!args) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // The system locale is the one the load reads numbers in: set it before Qt reads it.
    if (!args->locale.isEmpty()) {
        qputenv("LC_ALL", args->locale.toLocal8Bit());
        qputenv("LANG", args->locale.toLocal8Bit());
    }
    QCoreApplication app(argc, argv);
    // The header texts are read while the window's load handling runs, neither waiting for the other; the
    // reading thread starts once the application has made this one the main thread, and has
    // a locale of its own, by the name of the system's. Both threads allocate from one heap,
    // so that what the reading frees serves the load afterwards.
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
#endif
    const QLocale headerLocale(QLocale::system().name());
    std::future<QStringList> headers =
        std::async(std::launch::async, [&args, &headerLocale] { return headerTexts(*args, headerLocale); });

    PrintingDialogs dialogs;
    AppState state;
    state.PathToDB = args->db;
    // As the start-up opens the database: a failure is reported and the window opens without.
    auto connection = std::make_unique<Connection>();
    try {
        connection->Open(connectionStringFor(state.PathToDB), QString(), QString(), -1);
        state.DBConnection = std::move(connection);
        state.DBIsOpen = true;
    } catch (const Failure& f) {
        dialogs.message(f.text(), QStringLiteral(KALDER_APP_TITLE), Dialogs::Icon::Exclamation);
    }

    MemoryFormControls form(&dialogs);
    FormControls& ui = form.ui;
    frmMain_Load(state, ui);
    if (state.DBIsOpen)
        ui.Text_PathToDB->setText(state.PathToDB);
    ui.Text_FileName->setText(args->workbook);
    ui.Text_StrNumWithCapt->setText(args->header);
    ui.Text_StrNumMAX->setText(args->last);

    const QStringList texts = headers.get();
    for (qsizetype i = 0; i < args->links.size(); ++i) {
        const Link& link = args->links[i];
        const int row = ui.lv->count() + 1;
        ui.lv->add(row, link.rule);
        ui.lv->setSubItem(row, 1, link.column);
        ui.lv->setSubItem(row, 2, texts.value(i));
        ui.lv->setSubItem(row, 3, link.field);
        ui.lv->setSubItem(row, 4, positionOf(*ui.lv_DB, link.field));
    }

    if (args->undo)
        Command_Undo_Click(state, ui);
    else if (args->preview)
        Command_Preview_Click(state, ui);
    else
        Command_Update_Click(state, ui);

    PrintingDialogs::print(QStringLiteral("counts\t") + ui.Text_DBRecordCount->text() + QLatin1Char('\t') +
                           ui.Text_DBRecordCountNew->text());
    return 0;
}
