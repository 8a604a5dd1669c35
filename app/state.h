// The shared database state of a run: the path read from settings.cfg, the one
// connection, and whether a connection has ever been opened (never reset once set).
#pragma once

#include "db/connection.h"

#include <QString>
#include <memory>

namespace kalder {

struct AppState {
    QString PathToDB;
    std::unique_ptr<Connection> DBConnection;   // null until a database is opened
    bool DBIsOpen = false;
    bool journalNoticeShown = false;   // the operator was told the database keeps no journal of loads
    // The folder of the file last chosen in a file dialog: where the next dialog opens when
    // its own box names no folder. The process's current directory is never moved for it.
    QString LastChosenFolder;

    // The open connection, or nullptr.
    Connection* connection() const
    {
        return DBConnection && DBConnection->isOpen() ? DBConnection.get() : nullptr;
    }
};

} // namespace kalder
