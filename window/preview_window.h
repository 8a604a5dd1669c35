// The modal window of a rehearsed load: its totals, the records it would add or widen in a
// table that sorts and filters (a model over the report, fast on hundreds of thousands of
// rows), the rows it could not take, and a button that saves both as a .csv.
#pragma once

#include "window/controls/preview.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

namespace kalder {

class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(const PreviewReport& report, QWidget* parent = nullptr);

    // The report as .csv text: UTF-8 with a byte-order mark, ";" between fields.
    static QByteArray csv(const PreviewReport& report);
    // Writes csv(report) to the file; a failure names it.
    static void save(const PreviewReport& report, const QString& path);

    QTableView* records() const { return m_records; }
    QTableView* rejections() const { return m_rejections; }
    QLineEdit* filter() const { return m_filter; }
    QString totals() const;

private:
    void saveAs();

    const PreviewReport& m_report;
    QLabel* m_totals;
    QLineEdit* m_filter;
    QTableView* m_records;
    QTableView* m_rejections;
    QSortFilterProxyModel* m_proxy;
};

} // namespace kalder
