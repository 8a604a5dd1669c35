// kalder-cells [--locale NAME] FILE: the displayed text of every cell of the workbook's active
// sheet as UTF-8 CSV, one line per row up to the last row that holds a cell.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

QByteArray csvField(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r')) return utf8;
    utf8.replace("\"", "\"\"");
    return '"' + utf8 + '"';
}

int usage()
{
    std::fputs("usage: kalder-cells [--locale NAME] FILE\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QLocale locale = QLocale::system();
    if (!args.isEmpty() && args.front() == QLatin1StringView("--locale")) {
        if (args.size() < 2) return usage();
        locale = QLocale(args[1]);
        args = args.mid(2);
    }
    if (args.size() != 1 || args.front().startsWith(QLatin1StringView("--"))) return usage();

    try {
        auto book = kalder::Workbook::open(args.front(), locale);
        QByteArray out;
        const int rows = book->lastRow();
        for (int row = 1; row <= rows; ++row) {
            const int columns = book->lastColumn(row);
            for (int col = 1; col <= columns; ++col) {
                if (col > 1) out += ',';
                out += csvField(book->cellText(row, col));
            }
            out += "\r\n";
            if (out.size() > (1 << 20)) {
                std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
                out.clear();
            }
        }
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        book->close();
    } catch (const kalder::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.text().toUtf8().constData());
        return 1;
    }
    return 0;
}
