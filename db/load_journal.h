// The journal of loads: what each load did to a table, kept in two tables of the same database
// (kalder_load, a record per load; kalder_load_change, what it changed), written in the same
// transactions as the rows it describes and never needed to read the table. It serves to take
// the last load back.
#pragma once

#include "db/connection.h"
#include "db/keyed_merge.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kalder {

// A load as the journal names it.
struct JournaledLoad {
    qint64 id = 0;
    QString table;
    QDateTime started;
    QString workbook;
    qint64 workbookSize = 0;
    QByteArray sha256; // hex
    qint32 headerRow = 0, lastRow = 0;
    QString links; // a line per link: rule, column, workbook field, database field
    MergeFields fields;
    qint64 rowsMerged = 0, added = 0, widened = 0;
    bool finished = false; // ran to its end (a load cut off or failed half-way did not)
};

// The journal of one load, told by its merge what each batch writes.
class LoadJournal final : public MergeObserver {
public:
    // The journal for a load into fields.table, its tables made on first use. Nothing when the
    // database cannot take them; unavailable then says why. A failure of the file or the
    // machine (a lock, a file that cannot be written) fails, as the load itself would.
    static std::unique_ptr<LoadJournal> start(Connection& conn, JournaledLoad load, QString* unavailable);
    ~LoadJournal() override;

    // The workbook's SHA-256 (hex), asked for when the first batch is written.
    void setSha256(std::function<QByteArray()> sha256) { m_sha256 = std::move(sha256); }
    // The rows merged so far, and whether the load has run to its end; written with the next batch.
    void rowsMerged(qint64 rows) { m_load.rowsMerged = rows; }
    void finishing() { m_load.finished = true; }

    void added(qint64 rid, std::string_view key, std::optional<double> min, std::optional<double> max) override;
    void widened(qint64 rid, std::string_view key, const StoredValue& oldMin, const StoredValue& oldMax,
                 std::optional<double> newMin, std::optional<double> newMax) override;
    void beforeCommit() override;
    void committed() override;
    void rolledBack() override;

private:
    struct Impl;
    explicit LoadJournal(std::unique_ptr<Impl> impl, JournaledLoad load);
    void forgetBatch();
    QString writing() const;
    void ensureHeader();
    void writeChange(const char* kind, qint64 first, qint64 last, qint64 records, std::string_view data);
    void writeAdded();
    void writeWidened();

    std::unique_ptr<Impl> m_impl;
    JournaledLoad m_load;
    std::function<QByteArray()> m_sha256;
    bool m_headerCommitted = false;
    std::vector<qint64> m_widenedRids; // sorted: the records widened in committed batches
    std::vector<qint64> m_batchWidened;
    qint64 m_addedCount = 0, m_batchAdded = 0;
};

// Why the database keeps no journal at all (a server database), or nothing when it may.
std::optional<QString> journalUnavailable(const Connection& conn);

// The last load into the table that has not been taken back; nothing when there is none or
// the database keeps no journal.
std::optional<JournaledLoad> lastLoad(Connection& conn, const QString& table);

struct UndoResult {
    JournaledLoad load;
    QStringList changedKeys; // records changed since by someone else: nothing was taken back
    qint64 removed = 0, restored = 0;
};
// Takes the last load into the table back in one transaction: the records it added removed,
// the ones it widened given their values before it. When a record it touched has been changed
// since, nothing is written and changedKeys names them. Fails when there is no load to take back.
UndoResult undoLastLoad(Connection& conn, const QString& table);

} // namespace kalder
