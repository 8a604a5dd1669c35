// The shared database state of a run: the path read from settings.cfg, the one
// connection, and whether a connection has ever been opened (never reset once set).
// The connection's type is only named here: the database layer, which sits above this
// header, defines it and the accessor that asks it whether it is open.
#pragma once

#include <QString>
#include <memory>

namespace kalder {

class Connection;

struct AppState {
    QString PathToDB;
    std::unique_ptr<Connection> DBConnection; // null until a database is opened
    bool DBIsOpen = false;
    bool journalNoticeShown = false; // the operator was told the database keeps no journal of loads
    // The folder of the file last chosen in a file dialog: where the next dialog opens when
    // its own box names no folder. The process's current directory is never moved for it.
    QString LastChosenFolder;

    // The open connection, or nullptr (defined with Connection, in db/connection.h).
    Connection* connection() const;
};

} // namespace kalder
