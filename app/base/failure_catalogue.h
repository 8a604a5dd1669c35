// The catalogue of failures: every number of our own with its name and meaning, the range
// of the engine's result codes, and the failures whose words more than one reader or layer
// reports, made here once so that the same fact always reads the same.
#pragma once

#include "app/base/failure.h"

#include <QString>
#include <span>

namespace kalder {

struct FailureEntry {
    int number;
    const char* name; // the err:: constant
    const char* meaning; // UTF-8, what a failure of this number means in general
};

// Every entry, in ascending order of number.
std::span<const FailureEntry> failureCatalogue();
// The entry of a number of our own, or null (an engine code, or no number of ours).
const FailureEntry* catalogueEntry(int number);

namespace fail {

// A workbook file that exists but cannot be opened for reading.
Failure bookNoAccess(const QString& path);
// A workbook damaged inside: what names the part that does not read.
Failure bookDamaged(const QString& name, const QString& what);
Failure bookPasswordProtected(const QString& name);
Failure notAnXlsBook(const QString& name);

// A database operation on a connection that is not open.
Failure connectionNotOpen();
Failure noCurrentRecord(const QString& table);
Failure fieldNotFound(const QString& field, const QString& table);

// The refusals of the list and progress controls, in memory and on screen alike.
Failure listRowOutside(int index, int count);
Failure listColumnInvalid(int column);
Failure barMinimumAboveMaximum(float minimum, float maximum);
Failure barMaximumBelowMinimum(float maximum, float minimum);
Failure barValueOutside(float value, float minimum, float maximum);

} // namespace fail

} // namespace kalder
