// The bulk-binding ceiling of the catch-up benchmark: the rows of positions
// read into memory, the table emptied, and the rows sent back by one
// connection as bulk executions of the store's prepared INSERT, 1000 rows per
// execute (array binding, each execute its own autocommitted transaction).
// Prints the rows and the seconds of the inserts alone.
//
//   MYSQL_PWD=... bulk_ceiling HOST PORT USER SCHEMA [ROWS_PER_EXECUTE]

#include "position.hpp"
#include "store/bulk_insert.hpp"
#include "store/row_time.hpp"

#include "mariadb++/account.hpp"
#include "mariadb++/connection.hpp"

#include <boost/range/sub_range.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

zav::positions_vector read_positions(mariadb::connection& _connection)
{
    auto rows = _connection.query(
        "SELECT CAST(trackable_id AS CHAR) AS id, trackable_uid, mac_address, ts, microsecond(ts) AS us, x, "
        "y, z, "
        "area_uid, project_uid, CAST(inactive AS CHAR) AS inactive FROM positions ORDER BY ts");
    zav::positions_vector result;
    while (rows->next()) {
        auto text = [&](const char* _name) {
            return rows->get_is_null(_name) ? boost::none
                                            : boost::optional<std::string>(rows->get_string(_name));
        };
        auto number = [&](const char* _name) {
            return rows->get_is_null(_name) ? boost::none : boost::optional<int>(rows->get_signed32(_name));
        };
        zav::position p;
        p.trackable_id = std::stoll(*text("id"));
        p.trackable_uid = *text("trackable_uid");
        p.mac_address = text("mac_address");
        p.ts = zav::to_timestamp(rows->get_date_time("ts"), rows->get_signed32("us"));
        p.x = number("x");
        p.y = number("y");
        p.z = number("z");
        p.area_uid = text("area_uid");
        p.project_uid = text("project_uid");
        if (const auto inactive = text("inactive")) p.inactive = static_cast<short>(std::stoi(*inactive));
        result.push_back(std::move(p));
    }
    return result;
}

}  // namespace

int main(int _argc, char** _argv)
{
    if (_argc < 5) {
        std::fprintf(stderr, "usage: MYSQL_PWD=... %s HOST PORT USER SCHEMA [ROWS_PER_EXECUTE]\n", _argv[0]);
        return 2;
    }
    const char* password = std::getenv("MYSQL_PWD");
    const std::size_t piece = _argc > 5 ? std::stoul(_argv[5]) : 1000;
    auto connection = mariadb::connection::create(
        mariadb::account::create(_argv[1], _argv[3], password ? password : "", _argv[4],
                                 static_cast<unsigned>(std::stoul(_argv[2])), ""));
    connection->set_charset("utf8mb4");
    if (!connection->supports_bulk()) {
        std::fprintf(stderr, "bulk_ceiling: the server has no bulk execution\n");
        return 1;
    }
    const zav::positions_vector positions = read_positions(*connection);
    connection->execute("TRUNCATE TABLE positions");

    auto rows = zav::bulk_insert::make_rows();
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t begin = 0; begin < positions.size(); begin += piece) {
        const auto end = std::min(positions.size(), begin + piece);
        zav::bulk_insert::fill(rows, boost::sub_range<const zav::positions_vector>(positions.begin() + begin,
                                                                                   positions.begin() + end));
        connection->execute_bulk(zav::bulk_insert::statement, rows);
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("%zu %.3f\n", positions.size(), seconds.count());
    return 0;
}
