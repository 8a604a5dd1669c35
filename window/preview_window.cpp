#include "window/preview_window.h"

#include "app/base/failure.h"

#include <QAbstractTableModel>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

namespace kalder {

namespace {

QString shown(double v) { return std::isnan(v) ? QString() : QLocale::system().toString(v, 'g', 15); }

QString changeText(PreviewReport::Record::Change c)
{
    return c == PreviewReport::Record::Change::Added ? QStringLiteral("новая") : QStringLiteral("расширена");
}

const QStringList RecordColumns{QStringLiteral("Ключ"),     QStringLiteral("Изменение"),
                                QStringLiteral("MIN было"), QStringLiteral("MIN станет"),
                                QStringLiteral("MAX было"), QStringLiteral("MAX станет")};
const QStringList RejectionColumns{QStringLiteral("Строка"), QStringLiteral("Колонка"), QStringLiteral("Текст"),
                                   QStringLiteral("Причина")};

// The records of the report; numbers sort as numbers (the sort role), blanks first.
class RecordsModel final : public QAbstractTableModel {
public:
    explicit RecordsModel(const QList<PreviewReport::Record>& records, QObject* parent)
        : QAbstractTableModel(parent), m_records(records)
    {
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(m_records.size()); }
    int columnCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : int(RecordColumns.size());
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (o == Qt::Horizontal && role == Qt::DisplayRole)
            return RecordColumns.value(section);
        return QAbstractTableModel::headerData(section, o, role);
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const PreviewReport::Record& r = m_records[index.row()];
        const double values[] = {r.oldMin, r.newMin, r.oldMax, r.newMax};
        if (role == Qt::DisplayRole) {
            switch (index.column()) {
            case 0:
                return r.key;
            case 1:
                return changeText(r.change);
            default:
                return shown(values[index.column() - 2]);
            }
        }
        if (role == Qt::UserRole) { // the sort key
            switch (index.column()) {
            case 0:
                return r.key;
            case 1:
                return int(r.change);
            default: {
                const double v = values[index.column() - 2];
                return std::isnan(v) ? -std::numeric_limits<double>::infinity() : v;
            }
            }
        }
        if (role == Qt::TextAlignmentRole && index.column() >= 2)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    }

private:
    const QList<PreviewReport::Record>& m_records;
};

class RejectionsModel final : public QAbstractTableModel {
public:
    explicit RejectionsModel(const QList<PreviewReport::Rejection>& rows, QObject* parent)
        : QAbstractTableModel(parent), m_rows(rows)
    {
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : int(RejectionColumns.size());
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (o == Qt::Horizontal && role == Qt::DisplayRole)
            return RejectionColumns.value(section);
        return QAbstractTableModel::headerData(section, o, role);
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return QVariant();
        const PreviewReport::Rejection& r = m_rows[index.row()];
        switch (index.column()) {
        case 0:
            return QString::number(r.row);
        case 1:
            return r.column > 0 ? QString::number(r.column) : QString();
        case 2:
            return r.text;
        default:
            return r.reason;
        }
    }

private:
    const QList<PreviewReport::Rejection>& m_rows;
};

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvLine(const QStringList& fields)
{
    QStringList out;
    for (const QString& f : fields)
        out.append(csvField(f));
    return out.join(QLatin1Char(';')) + QStringLiteral("\r\n");
}

QString totalsText(const PreviewReport& r)
{
    return QStringLiteral("Строк прочитано: %1; пропущено (пустой ключ): %2\n"
                          "Новых записей: %3; расширенных: %4; без изменений: %5\n"
                          "Строк, на которых загрузка остановится: %6")
        .arg(r.rowsRead)
        .arg(r.rowsSkipped)
        .arg(r.added)
        .arg(r.widened)
        .arg(r.unchanged)
        .arg(r.rejections.size());
}

} // namespace

PreviewWindow::PreviewWindow(const PreviewReport& report, QWidget* parent) : QDialog(parent), m_report(report)
{
    setWindowTitle(QStringLiteral("Проверка без записи"));
    setModal(true);
    resize(760, 560);
    auto* layout = new QVBoxLayout(this);
    m_totals = new QLabel(totalsText(report), this);
    layout->addWidget(m_totals);

    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("Отбор по ключу"));
    m_filter->setClearButtonEnabled(true);
    layout->addWidget(m_filter);

    auto* model = new RecordsModel(report.records, this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(model);
    m_proxy->setSortRole(Qt::UserRole);
    m_proxy->setFilterKeyColumn(0);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(m_filter, &QLineEdit::textChanged, m_proxy, &QSortFilterProxyModel::setFilterFixedString);
    m_records = new QTableView(this);
    m_records->setModel(m_proxy);
    m_records->setSortingEnabled(true);
    m_records->sortByColumn(0, Qt::AscendingOrder);
    m_records->verticalHeader()->setDefaultSectionSize(m_records->fontMetrics().height() + 4);
    m_records->verticalHeader()->hide();
    m_records->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_records->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_records, 3);

    layout->addWidget(new QLabel(QStringLiteral("Строки, которые загрузка не примет:"), this));
    m_rejections = new QTableView(this);
    m_rejections->setModel(new RejectionsModel(report.rejections, this));
    m_rejections->verticalHeader()->hide();
    m_rejections->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_rejections, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* saveButton = buttons->addButton(QStringLiteral("Сохранить в .csv..."), QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(saveButton, &QPushButton::clicked, this, &PreviewWindow::saveAs);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString PreviewWindow::totals() const { return m_totals->text(); }

QByteArray PreviewWindow::csv(const PreviewReport& report)
{
    QString out;
    for (const QString& line : totalsText(report).split(QLatin1Char('\n')))
        out += csvLine({line});
    out += QStringLiteral("\r\n") + csvLine(RecordColumns);
    for (const PreviewReport::Record& r : report.records)
        out +=
            csvLine({r.key, changeText(r.change), shown(r.oldMin), shown(r.newMin), shown(r.oldMax), shown(r.newMax)});
    out += QStringLiteral("\r\n") + csvLine(RejectionColumns);
    for (const PreviewReport::Rejection& r : report.rejections)
        out +=
            csvLine({QString::number(r.row), r.column > 0 ? QString::number(r.column) : QString(), r.text, r.reason});
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

void PreviewWindow::save(const PreviewReport& report, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv(report)) < 0 || !file.commit())
        throw Failure(err::PathFileAccess,
                      QStringLiteral("Не удалось записать файл %1: %2").arg(path, file.errorString()));
}

void PreviewWindow::saveAs()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить результат проверки"), QString(),
                                                      QStringLiteral("Текст CSV (*.csv)"));
    if (path.isEmpty())
        return;
    try {
        save(m_report,
             path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? path : path + QStringLiteral(".csv"));
    } catch (const Failure& f) {
        QMessageBox::warning(this, windowTitle(), f.text());
    }
}

} // namespace kalder
