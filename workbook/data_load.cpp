// The load over the workbook reader and the keyed merge. The rows are read from the top down,
// decoded as they are read where the format allows, and only the linked columns of the rows in
// hand are held; every row costs a few cell lookups and a few prepared statements. Rows are
// committed in batches, and a failure commits the rows before it before it is reported, so the
// table never holds part of a row and a load run again after any interruption gives the same
// table.
#include "workbook/data_load.h"

#include "app/base/failure_catalogue.h"
#include "app/base/version.h"
#include "db/keyed_merge.h"
#include "db/load_journal.h"
#include "workbook/readers/readers.h"
#include "workbook/readers/workbook.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <openssl/evp.h>

#include <algorithm>

#include <charconv>
#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <optional>

namespace kalder {

namespace {

const QString Title = QStringLiteral("xls_DataUpdate");
const QString TableData = QStringLiteral("tblData");
const QString KeyWarning = QStringLiteral("Не определено поле, по которому проверяется уникальность записи");
constexpr int ProgressStep = 64; // rows between repaints of the bar

struct Slot {
    bool linked = false;
    int colNo = 0;
    QString dbField;
};

// Only the space character: a tab or another blank is part of the key.
QStringView trimSpaces(QStringView text)
{
    qsizetype from = 0, to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    return text.sliced(from, to - from);
}

// The workbook column of a link, as a 16-bit integer the way the link list holds it.
int columnOf(const QString& text, int entry, const QLocale& locale)
{
    bool ok = false;
    double v = text.trimmed().toInt(&ok);
    if (!ok)
        v = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        throw Failure(err::TypeMismatch,
                      QStringLiteral("Номер колонки «%1» в связи %2 не является числом").arg(text).arg(entry));
    v = std::nearbyint(v); // half to even, as the platform rounds
    if (v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max())
        throw Failure(err::Overflow,
                      QStringLiteral("Номер колонки «%1» в связи %2 вне допустимых пределов").arg(text).arg(entry));
    return int(v);
}

// Numbers in the locale's format. The locale is asked for its decimal point and signs once;
// a plain number ("-12", "3,5" where the decimal point is a comma) is then converted without
// asking it again, and every other text goes to the locale's own conversion, which decides.
class LocaleNumbers {
public:
    explicit LocaleNumbers(const QLocale& locale) : m_locale(locale)
    {
        const QString point = locale.decimalPoint(), minus = locale.negativeSign(), zero = locale.zeroDigit();
        m_plain = point.size() == 1 && point[0].unicode() < 128 && !point[0].isDigit() && minus == QLatin1String("-") &&
                  zero == QLatin1String("0");
        m_point = m_plain ? char(point[0].unicode()) : '.';
    }

    // Plain numbers are converted without asking the locale.
    bool isPlain() const { return m_plain; }

    std::optional<double> toDouble(QStringView text) const
    {
        if (m_plain) {
            if (const auto v = plain(text))
                return v;
        }
        bool ok = false;
        const double v = m_locale.toDouble(text, &ok);
        return ok ? std::optional(v) : std::nullopt;
    }

private:
    // [-]digits[<point>digits], no leading zero but a lone one before the point.
    std::optional<double> plain(QStringView text) const
    {
        const qsizetype n = text.size();
        if (n == 0 || n > 40)
            return std::nullopt;
        char buf[48];
        qsizetype i = 0, intDigits = 0, fracDigits = 0;
        bool point = false;
        if (text[0] == QLatin1Char('-'))
            buf[i++] = '-';
        const qsizetype first = i;
        for (; i < n; ++i) {
            const char16_t c = text[i].unicode();
            if (c >= '0' && c <= '9') {
                (point ? fracDigits : intDigits)++;
                buf[i] = char(c);
            } else if (c == char16_t(m_point) && !point) {
                point = true;
                buf[i] = '.';
            } else {
                return std::nullopt;
            }
        }
        if (intDigits == 0 || (point && fracDigits == 0) || (intDigits > 1 && text[first] == QLatin1Char('0')))
            return std::nullopt;
        double v = 0;
        const auto r = std::from_chars(buf, buf + n, v);
        if (r.ec != std::errc() || r.ptr != buf + n)
            return std::nullopt;
        return v;
    }

    QLocale m_locale;
    bool m_plain = false;
    char m_point = '.';
};

// A minimum or maximum cell: nothing when empty, else its number in the locale's format.
// buffer holds the cell's text, reused from cell to cell.
std::optional<double> cellNumber(RowCursor& book, qint64 row, int col, const LocaleNumbers& numbers, QString& buffer)
{
    // a number shown as a plain decimal reads as the number it shows, found without its text
    double shown;
    if (numbers.isPlain() && book.plainNumber(int(row), col, shown))
        return shown;
    book.cellText(int(row), col, buffer);
    const QStringView text = trimSpaces(buffer);
    if (text.isEmpty())
        return std::nullopt;
    const std::optional<double> v = numbers.toDouble(text);
    if (!v || !std::isfinite(*v))
        throw Failure(err::TypeMismatch, QStringLiteral("Значение «%1» в ячейке (%2, %3) не является числом")
                                             .arg(text.toString())
                                             .arg(row)
                                             .arg(col));
    return v;
}

// A failure of the row's record, with the row's number.
Failure rowFailure(const Failure& f, qint64 row)
{
    return Failure(f.number(), QStringLiteral("Строка %1: %2").arg(row).arg(f.description()));
}

} // namespace

double leadingNumber(const QString& text)
{
    QString s;
    for (QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            s.append(c);
    qsizetype i = 0;
    QString num;
    if (i < s.size() && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-')))
        num.append(s[i++]);
    bool digits = false;
    while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
        num.append(s[i++]);
        digits = true;
    }
    if (i < s.size() && s[i] == QLatin1Char('.')) {
        num.append(s[i++]);
        while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
            num.append(s[i++]);
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < s.size() && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E') || s[i] == QLatin1Char('d') ||
                         s[i] == QLatin1Char('D'))) {
        QString exp = QStringLiteral("e");
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == QLatin1Char('+') || s[j] == QLatin1Char('-')))
            exp.append(s[j++]);
        bool expDigits = false;
        while (j < s.size() && s[j].isDigit() && s[j].unicode() < 128) {
            exp.append(s[j++]);
            expDigits = true;
        }
        if (expDigits)
            num.append(exp);
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(num, &ok);
    return ok ? v : 0;
}

QString counterText(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

namespace {

// The links of lv as the load applies them: one slot per rule, the last link of a rule
// winning, and every link with the field text the analysis listed for its column.
struct Links {
    Slot key, minimum, maximum;
    struct Listed {
        int entry;
        std::optional<int> colNo; // nothing: no column number (a link the load does not apply)
        QString field;
    };
    std::vector<Listed> listed;
};

Links scanLinks(const ListView& lv, const QLocale& locale)
{
    Links links;
    for (int i = 1; i <= lv.count(); ++i) {
        const QString rule = lv.text(i);
        Slot* slot = rule == RuleKey   ? &links.key
                     : rule == RuleMin ? &links.minimum
                     : rule == RuleMax ? &links.maximum
                                       : nullptr;
        std::optional<int> col;
        if (slot) {
            slot->colNo = columnOf(lv.subItem(i, 1), i, locale);
            slot->dbField = lv.subItem(i, 3);
            slot->linked = true;
            col = slot->colNo;
        } else {
            try {
                col = columnOf(lv.subItem(i, 1), i, locale);
            } catch (const Failure&) {
                // a link the load does not apply need not name a column
            }
        }
        links.listed.push_back({i, col, lv.subItem(i, 2)});
    }
    return links;
}

// The text the analysis lists for a column of the header row: "" for a row or column it
// cannot read, where it lists nothing.
QString headerText(RowCursor& book, qint32 headerRow, int column)
{
    if (headerRow < 1 || column < 1 || column > book.maxColumns() || headerRow > book.maxRows())
        return QString();
    return book.cellText(headerRow, column);
}

// Links made from the header row of another workbook, or of another row, would take keys and
// numbers from the wrong columns: every link's workbook field must be the text the header row
// now holds in its column.
void checkHeaders(const Links& links, RowCursor& book, qint32 headerRow)
{
    for (const Links::Listed& link : links.listed) {
        if (!link.colNo)
            continue;
        const QString now = headerText(book, headerRow, *link.colNo);
        if (now != link.field)
            throw Failure(err::LinksOutOfDate,
                          QStringLiteral("Связь %1 ожидает в колонке %2 строки заголовков %3 поле «%4», а там «%5». "
                                         "Связи составлены по другой книге или другой строке заголовков; "
                                         "выполните анализ входного файла заново")
                              .arg(link.entry)
                              .arg(*link.colNo)
                              .arg(headerRow)
                              .arg(link.field, now));
    }
}

// The part of the workbook the load reads: the linked columns, the rows up to the last and
// the header row.
Workbook::Part loadedPart(const Links& links, qint32 headerRow, qint32 lastRow)
{
    Workbook::Part part;
    for (const Links::Listed& link : links.listed)
        if (link.colNo && *link.colNo >= 1)
            part.columns.push_back(*link.colNo);
    part.rows = std::max({lastRow, headerRow, qint32(1)});
    return part;
}

} // namespace

namespace {

const QString PreviewTitle = QStringLiteral("xls_DataPreview");

// The SHA-256 of a file, in hex; empty when it cannot be read. OpenSSL's digest uses the
// processor's own SHA instructions where it has them: a tenth of the time of a portable one,
// which is the difference between a journal that costs little and one that costs much.
QByteArray sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const auto freeCtx = qScopeGuard([ctx] { EVP_MD_CTX_free(ctx); });
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1)
        return QByteArray();
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    qint64 n;
    while ((n = file.read(chunk.data(), chunk.size())) > 0)
        if (EVP_DigestUpdate(ctx, chunk.constData(), size_t(n)) != 1)
            return QByteArray();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (n < 0 || EVP_DigestFinal_ex(ctx, digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

QString linksText(const ListView& lv)
{
    QStringList lines;
    for (int i = 1; i <= lv.count(); ++i)
        lines.append(
            QStringList{lv.text(i), lv.subItem(i, 1), lv.subItem(i, 2), lv.subItem(i, 3)}.join(QLatin1Char('\t')));
    return lines.join(QLatin1Char('\n'));
}

// What a rehearsal's merge tells, gathered record by record: a batch's records count once it
// is written for good.
class PreviewCollector final : public MergeObserver {
public:
    void added(qint64 rid, std::string_view key, std::optional<double> min, std::optional<double> max) override
    {
        Seen& r = at(rid, key);
        r.added = true;
        r.newMin = min.value_or(NaN);
        r.newMax = max.value_or(NaN);
    }
    void widened(qint64 rid, std::string_view key, const StoredValue& oldMin, const StoredValue& oldMax,
                 std::optional<double> newMin, std::optional<double> newMax) override
    {
        Seen& r = at(rid, key);
        if (!r.added && !r.widened) {
            r.oldMin = oldMin.number;
            r.oldMax = oldMax.number;
            r.newMin = r.oldMin;
            r.newMax = r.oldMax;
        }
        r.widened = true;
        r.newMin = newMin.value_or(r.newMin);
        r.newMax = newMax.value_or(r.newMax);
    }
    void matched(qint64 rid, std::string_view key) override { at(rid, key); }
    void refused(qint64 row, std::string_view key, const Failure& why) override
    {
        m_batchRefused.append({row, 0, QString::fromUtf8(key.data(), qsizetype(key.size())), why.text()});
    }
    void committed() override
    {
        for (auto it = m_batch.begin(); it != m_batch.end(); ++it)
            m_final.insert(it.key(), it.value());
        m_batch.clear();
        m_refused += m_batchRefused;
        m_batchRefused.clear();
    }
    void rolledBack() override
    {
        // the batch is merged again, and its refusals found again
        m_batch.clear();
        m_batchRefused.clear();
    }
    void report(PreviewReport& out)
    {
        committed();
        for (const Seen& r : std::as_const(m_final)) {
            if (!r.added && !r.widened) {
                ++out.unchanged;
                continue;
            }
            PreviewReport::Record rec;
            rec.key = r.key;
            rec.change = r.added ? PreviewReport::Record::Change::Added : PreviewReport::Record::Change::Widened;
            rec.oldMin = r.oldMin;
            rec.oldMax = r.oldMax;
            rec.newMin = r.newMin;
            rec.newMax = r.newMax;
            ++(r.added ? out.added : out.widened);
            out.records.append(rec);
        }
        out.rejections += m_refused;
    }

private:
    static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    struct Seen {
        QString key;
        bool added = false, widened = false;
        double oldMin = NaN, oldMax = NaN, newMin = NaN, newMax = NaN;
    };
    Seen& at(qint64 rid, std::string_view key)
    {
        auto it = m_batch.find(rid);
        if (it != m_batch.end())
            return *it;
        Seen seen = m_final.value(rid);
        if (seen.key.isNull())
            seen.key = QString::fromUtf8(key.data(), qsizetype(key.size()));
        return *m_batch.insert(rid, seen);
    }

    QHash<qint64, Seen> m_final, m_batch;
    QList<PreviewReport::Rejection> m_refused, m_batchRefused;
};

// The rows below the header row, merged into tblData: a load, or its rehearsal when preview
// is given (nothing stays written, and every row that cannot be taken is listed rather than
// ending the run). False: ran to its end.
bool runRows(AppState& state, FormControls& ui, const QString& fileName, qint32 headerRow, qint32 lastRow,
             const QLocale& locale, PreviewReport* preview)
{
    bool result = true;
    const QString title = preview ? PreviewTitle : Title;
    std::unique_ptr<RowCursor> book;
    std::unique_ptr<LoadJournal> journal;
    std::unique_ptr<KeyedMerge> merge;
    std::optional<PreviewCollector> collector;
    if (preview)
        collector.emplace();
    // The journal names the workbook by its hash: read in a thread of its own from the start
    // (the file is read anyway), so that the load does not wait for it; a rehearsal, and a
    // database that keeps no journal, need none.
    std::shared_future<QByteArray> digest;
    if (!preview && !(state.connection() && journalUnavailable(*state.connection())))
        digest = std::async(std::launch::async, sha256Of, fileName).share();
    const auto sha256 = [&] { return digest.valid() ? digest.get() : sha256Of(fileName); };
    const auto cleanUp = qScopeGuard([&] {
        merge.reset(); // drops a batch not committed: only ever rows after a failure, or a rehearsal
        journal.reset();
        book.reset();
        try { // a bar that refuses 0 must not hide the report already shown
            ui.pb->setValue(0);
        } catch (const Failure&) {
        }
        ui.pointer->set(Pointer::Default);
    });
    const auto showCounters = [&](qint64 added) {
        if (preview)
            return;
        ui.Text_DBRecordCount->setText(counterText(leadingNumber(ui.Text_DBRecordCount->text()) + double(added)));
        ui.Text_DBRecordCountNew->setText(QString::number(added));
    };

    try {
        const Links links = scanLinks(*ui.lv, locale);
        const Slot& key = links.key;
        const Slot& minimum = links.minimum;
        const Slot& maximum = links.maximum;
        if (!key.linked) {
            ui.dialogs->message(KeyWarning, QStringLiteral(KALDER_APP_TITLE), Dialogs::Icon::Exclamation);
            showCounters(0);
            return true; // refused: the caller shows nothing more
        }

        ui.pointer->set(Pointer::Hourglass);
        book = Workbook::openRows(fileName, locale, loadedPart(links, headerRow, lastRow));
        checkHeaders(links, *book, headerRow);
        const MergeFields fields{TableData, key.dbField, minimum.linked ? std::optional(minimum.dbField) : std::nullopt,
                                 maximum.linked ? std::optional(maximum.dbField) : std::nullopt};
        const qint64 fileSize = QFileInfo(fileName).size();
        if (!preview && state.connection()) {
            // The same workbook as the last load is most often a slip of the operator's.
            const std::optional<JournaledLoad> last = lastLoad(*state.connection(), TableData);
            if (last && last->workbookSize == fileSize && !last->sha256.isEmpty() && last->sha256 == sha256() &&
                !ui.dialogs->question(
                    QStringLiteral("Эта книга уже загружена в таблицу %1: %2, %3 (добавлено записей: %4, "
                                   "расширено: %5). Загрузить её ещё раз?")
                        .arg(TableData, last->workbook, last->started.toString(u"dd.MM.yyyy HH:mm"))
                        .arg(last->added)
                        .arg(last->widened),
                    QStringLiteral(KALDER_APP_TITLE)))
                return true; // declined: nothing loaded, nothing more to show
        }
        const LocaleNumbers numbers(locale);
        // The rows are read once, unless the file hides, further on, cells it gave (merged areas
        // an .xlsx lists after its cells): nothing is written yet then, and the rows are read
        // again from the workbook opened whole.
        for (bool again = false;; again = true) {
            if (again) {
                merge.reset(); // takes back what it wrote, and the journal's with it
                journal.reset();
                if (preview) {
                    collector.emplace();
                    *preview = PreviewReport();
                }
                book = rowsOf(Workbook::open(fileName, locale, loadedPart(links, headerRow, lastRow)));
            }
            ui.pb->setValue(0);
            // A bar needs a maximum above its minimum; a last row of 0 or less loads no row anyway.
            ui.pb->setMax(float(lastRow) > ui.pb->min() ? float(lastRow) : ui.pb->min() + 1);
            // The bar counts every row, skipped or not; it is repainted every few rows and at the last.
            qint64 done = 0;
            const auto advance = [&](bool last) {
                if (++done % ProgressStep == 0 || last)
                    ui.pb->setValue(std::min(float(done), ui.pb->max()));
            };
            const auto open = [&](qint64 row) {
                Connection* conn = state.connection();
                if (!conn)
                    throw fail::connectionNotOpen();
                MergeOptions options;
                if (preview) {
                    options.rehearsal = true;
                    options.observer = &*collector;
                } else {
                    JournaledLoad load;
                    load.table = TableData;
                    load.workbook = QFileInfo(fileName).absoluteFilePath();
                    load.workbookSize = fileSize;
                    load.headerRow = headerRow;
                    load.lastRow = lastRow;
                    load.links = linksText(*ui.lv);
                    load.fields = fields;
                    QString why;
                    journal = LoadJournal::start(*conn, load, &why);
                    if (journal) {
                        journal->setSha256(sha256);
                        options.observer = journal.get();
                    } else if (!state.journalNoticeShown) {
                        state.journalNoticeShown = true;
                        ui.dialogs->message(QStringLiteral("Журнал загрузок не ведётся (%1): загрузка выполняется без "
                                                           "возможности её отменить")
                                                .arg(why),
                                            QStringLiteral(KALDER_APP_TITLE), Dialogs::Icon::Exclamation);
                    }
                }
                // the load commits its batches itself (see below)
                options.batchRows = std::numeric_limits<int>::max();
                merge = KeyedMerge::open(*conn, fields, options);
                merge->expect(qint64(lastRow) - row + 1);
            };
            // A minimum or maximum of the row: a rehearsal lists a cell that is no number and goes on.
            bool rejected = false;
            QString keyText, numberText; // reused from row to row
            qint64 merged = 0;
            const auto number = [&](qint64 row, const Slot& slot) -> std::optional<double> {
                if (!slot.linked)
                    return std::nullopt;
                if (!preview)
                    return cellNumber(*book, row, slot.colNo, numbers, numberText);
                try {
                    return cellNumber(*book, row, slot.colNo, numbers, numberText);
                } catch (const Failure& f) {
                    if (f.number() != err::TypeMismatch)
                        throw;
                    preview->rejections.append({row, slot.colNo, trimSpaces(numberText).toString(), f.text()});
                    rejected = true;
                    return std::nullopt;
                }
            };
            for (qint64 row = qint64(headerRow) + 1; row <= lastRow; ++row) {
                const bool last = row == lastRow;
                if (preview)
                    ++preview->rowsRead;
                book->cellText(int(row), key.colNo, keyText);
                const QStringView k = trimSpaces(keyText);
                if (k.isEmpty()) {
                    if (preview)
                        ++preview->rowsSkipped;
                    advance(last);
                    continue;
                }
                rejected = false;
                const std::optional<double> lo = number(row, minimum);
                const std::optional<double> hi = number(row, maximum);
                if (rejected) {
                    advance(last);
                    continue;
                }
                if (!merge)
                    open(row);
                if (journal)
                    journal->rowsMerged(done + 1);
                try {
                    merge->merge(k, lo, hi, row);
                    // A commit costs a sync and writes again every page the batch changed: after a
                    // first batch of the merge's own size, the rest of the rows go in one. Rows are
                    // written only once they are known to stand; else all go at the end.
                    if (++merged == KeyedMerge::DefaultBatchRows && book->rowsStand().value_or(false))
                        merge->commit();
                } catch (const Failure& f) {
                    if (const auto at = merge->failedRow())
                        throw rowFailure(f, *at);
                    throw;
                }
                advance(last);
            }
            // every row is read: the rest of the file is, before the last batch is written (a damaged
            // end fails the load with that batch not written), and its rows go first, so that the
            // two never take memory at once
            if (book->finish())
                break; // else the rows are read again, nothing written yet
        }
        book.reset();
        if (merge) {
            if (journal)
                journal->finishing();
            try {
                merge->commit();
            } catch (const Failure& f) {
                if (const auto at = merge->failedRow())
                    throw rowFailure(f, *at);
                throw;
            }
        }

        if (preview) {
            collector->report(*preview);
            std::sort(preview->rejections.begin(), preview->rejections.end(),
                      [](const auto& a, const auto& b) { return a.row < b.row; });
        }
        showCounters(merge ? merge->committedAdded() : 0);
        result = false;
    } catch (const Failure& f) {
        // Rows before the failing one are kept, and the counters show what is in the table.
        std::optional<Failure> report = f;
        qint64 added = 0;
        if (merge && !preview) {
            // The first failure is the one to report, unless writing the rows before it found
            // a row the table refuses: the load ends there, and the rows before that one are
            // committed by the second call.
            for (int attempt = 0; attempt < 2; ++attempt) {
                try {
                    merge->commit();
                    break;
                } catch (const Failure& g) {
                    const auto at = merge->failedRow();
                    if (!at)
                        break;
                    report = rowFailure(g, *at);
                }
            }
            added = merge->committedAdded();
        }
        showCounters(added);
        ui.dialogs->message(report->text(), title, Dialogs::Icon::Exclamation);
    }
    return result;
}

} // namespace

bool xls_DataUpdate(AppState& state, FormControls& ui, const QString& fileName, qint32 headerRow, qint32 lastRow,
                    const QLocale& locale)
{
    // Refused by the caller before it gets here; loading nothing must not read as success.
    if (fileName.isEmpty())
        return true;
    return runRows(state, ui, fileName, headerRow, lastRow, locale, nullptr);
}

bool xls_DataPreview(AppState& state, FormControls& ui, const QString& fileName, qint32 headerRow, qint32 lastRow,
                     PreviewReport& report, const QLocale& locale)
{
    report = PreviewReport();
    if (fileName.isEmpty())
        return true;
    return runRows(state, ui, fileName, headerRow, lastRow, locale, &report);
}

} // namespace kalder
