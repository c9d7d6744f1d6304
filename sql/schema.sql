-- The tables of trackmend, as a user creates them in the schema that the
-- daemon's configuration names ("dw"."database"). trackmend reads
-- positions_raw and writes positions; the tables named trackmend_* are its
-- own bookkeeping.
--
-- Times are UTC. Strings compare byte-wise (utf8mb4_bin), as the daemon
-- groups positions by byte-wise equality of trackable_uid.

-- Written by the locating system; read by trackmend, never written.
CREATE TABLE IF NOT EXISTS positions_raw (
    id            BIGINT       NOT NULL AUTO_INCREMENT,
    trackable_id  INT          NOT NULL,
    trackable_uid VARCHAR(128) NOT NULL,
    mac_address   VARCHAR(64)  NULL,
    ts            DATETIME(6)  NOT NULL,
    x             INT          NULL,
    y             INT          NULL,
    z             INT          NULL,
    area_uid      VARCHAR(128) NULL,
    project_uid   VARCHAR(128) NULL,
    inactive      TINYINT      NULL,
    -- 'HB' marks heartbeats, which trackmend ignores.
    type          VARCHAR(16)  NOT NULL,
    PRIMARY KEY (id),
    KEY positions_raw_ts (ts)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin;

-- The cleaned positions, written by trackmend with millisecond times.
--
-- id is the primary key that Galera needs on every table: replication
-- identifies a row by its key, so that a table without one cannot have rows
-- deleted and is applied by full scans on the other nodes. trackmend names
-- every column it writes and never reads id, so a positions table created
-- before the column existed keeps working unchanged (and can get it with
-- ALTER TABLE positions ADD COLUMN id BIGINT NOT NULL AUTO_INCREMENT
-- PRIMARY KEY FIRST).
CREATE TABLE IF NOT EXISTS positions (
    id            BIGINT       NOT NULL AUTO_INCREMENT,
    trackable_id  BIGINT       NOT NULL,
    trackable_uid VARCHAR(128) NOT NULL,
    mac_address   VARCHAR(64)  NULL,
    ts            DATETIME(3)  NOT NULL,
    x             INT          NULL,
    y             INT          NULL,
    z             INT          NULL,
    area_uid      VARCHAR(128) NULL,
    project_uid   VARCHAR(128) NULL,
    inactive      SMALLINT     NULL,
    PRIMARY KEY (id),
    KEY positions_ts (ts),
    KEY positions_trackable_uid_ts (trackable_uid, ts)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin;

-- The writer lease: one daemon writes positions at a time, across hosts. It
-- holds at most one row (id 1). A daemon takes the lease when the row is
-- absent, expired (expires_at, on the server's clock) or its own, and renews
-- it in a transaction; a second daemon waits, logging which daemon holds it,
-- and takes over once the lease has expired (at most the lease's duration
-- after the holder died) or was released (at once when the holder stopped).
-- Every write transaction of positions also updates this row (holder_id
-- must be its own, fenced_writes counts up): a daemon that lost the lease
-- cannot commit a row, and on Galera a take-over and a write through
-- different nodes conflict in certification. GET_LOCK() would not do: it is
-- refused on Galera nodes.
--
-- holder_id: the identity of the writer, kept in its persistent data
-- directory (file writer_id), so that a daemon restarted on the same state
-- takes its own lease back at once. holder: the same with host and process
-- id, for the log lines of waiting daemons. trackmend creates this table
-- itself when it is missing.
CREATE TABLE IF NOT EXISTS trackmend_writer_lease (
    id            TINYINT UNSIGNED NOT NULL,
    holder_id     VARCHAR(64)      NOT NULL,
    holder        VARCHAR(255)     NOT NULL,
    expires_at    DATETIME(6)      NOT NULL,
    fenced_writes BIGINT UNSIGNED  NOT NULL DEFAULT 0,
    PRIMARY KEY (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin;

-- What the daemon has read: one row per written piece, the raw rows
-- (heartbeats excluded) of the time range (after_ts, until_ts] that its
-- window read, recorded in a fenced transaction before the piece is written.
-- A raw row that arrives after its range was read makes the range's count
-- grow: it is late, and late_rows says how many of those were reported
-- already, so that each late row is reported once, whichever daemon finds
-- it and however often it restarts. Rows older than system.late_horizon_sec
-- are deleted by the daemon.
CREATE TABLE IF NOT EXISTS trackmend_read_ledger (
    until_ts  DATETIME(3)     NOT NULL,
    after_ts  DATETIME(3)     NOT NULL,
    raw_rows  BIGINT UNSIGNED NOT NULL,
    late_rows BIGINT UNSIGNED NOT NULL DEFAULT 0,
    PRIMARY KEY (until_ts),
    KEY trackmend_read_ledger_after (after_ts)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin;

-- How far the daemon has looked for late rows: the highest positions_raw id
-- it has examined (one row, id 1). Rows inserted since, whose time lies in a
-- range of trackmend_read_ledger, are looked at by the next run.
CREATE TABLE IF NOT EXISTS trackmend_late_check (
    id             TINYINT UNSIGNED NOT NULL,
    checked_raw_id BIGINT           NOT NULL,
    PRIMARY KEY (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin;
