#pragma once

#include "mariadb++/connection.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace zav {

// One writer per database, across hosts: a lease row in the table
// trackmend_writer_lease (sql/schema.sql), taken and renewed inside
// transactions so that it certifies on every node of a Galera cluster, where
// GET_LOCK() is refused. Expiry is measured on the server's clock, never on
// the daemon's.
//
// The lease alone does not stop a daemon that lost it without noticing (a
// long pause, a partition): every write transaction also calls
// fence_in_transaction(), which updates the lease row in that transaction.
// A daemon that is no longer the holder cannot commit a row; a concurrent
// take-over on another node conflicts with the write in certification, so
// one of the two fails.
//
// _connection must outlive the lease. Single-threaded.
class writer_lease
{
public:
    // _writer_id identifies the writer (store/writer_id.hpp); _description
    // names this daemon in the log lines of others. _duration: how long the
    // lease lasts unrenewed; it bounds the take-over after this daemon died.
    writer_lease(mariadb::connection& _connection, std::string _writer_id, std::string _description,
                 std::chrono::seconds _duration);

    // Creates the lease table when the schema lacks it; throws the server's
    // error when the account may not create it.
    void create_table_if_missing();

    // Takes the lease when it is free, expired or ours, and renews it, in one
    // transaction. Returns none when this daemon holds it now, else the
    // description of the daemon that holds it. A take-over that loses a race to another
    // daemon throws the server's error (a duplicate key or a certification
    // failure); the caller tries again later.
    std::optional<std::string> take_or_renew();
    // Whether the last successful take_or_renew() took the lease from
    // another writer (expired or let go), which may have written since this
    // one last did.
    bool taken_from_another() const { return m_taken_from_another; }

    // Inside the caller's open transaction: renews the lease as part of that
    // transaction, or throws zav::libs::core::exception when another daemon
    // holds it; the caller then rolls back.
    void fence_in_transaction();
    // The same in two steps, for a caller that sends the fence together with
    // other statements (one round trip): the UPDATE that renews the lease,
    // then check_fence() with the rows it affected, which throws as
    // fence_in_transaction() does unless the lease was renewed.
    const std::string& fence_statement();
    void check_fence(mariadb::u64 _renewed) const;

    // For a process that writes beside the daemons without being one (the
    // reprocess command): the UPDATE that locks the lease row inside its
    // transaction, whoever holds it, so that no fenced write commits
    // meanwhile (on Galera, a concurrent one fails certification).
    static std::string lock_statement();

    // Lets the lease expire at once, so that a waiting daemon takes over at
    // its next try. Best effort: failures are ignored (the lease then expires
    // by itself).
    void release() noexcept;

    // "<writer id> on <host>, pid <pid>".
    const std::string& description() const { return m_description; }
    static std::string describe(const std::string& _writer_id);

private:
    mariadb::connection& m_connection;
    std::string m_writer_id;
    std::string m_description;
    std::chrono::seconds m_duration;
    bool m_taken_from_another = false;
    // Built at the first fence; the writer id never changes.
    std::string m_fence_statement;
};

}  // namespace zav
