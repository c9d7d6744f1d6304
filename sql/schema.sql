-- The two tables of trackmend, as a user creates them in the schema that the
-- daemon's configuration names ("dw"."database"). trackmend itself creates no
-- tables: it reads positions_raw and writes positions.
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
CREATE TABLE IF NOT EXISTS positions (
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
    KEY positions_ts (ts),
    KEY positions_trackable_uid_ts (trackable_uid, ts)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_bin;
