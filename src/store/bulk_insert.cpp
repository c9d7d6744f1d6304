#include "store/bulk_insert.hpp"

#include "store/row_time.hpp"

#include <optional>

namespace zav::bulk_insert {

namespace {

using kind = mariadb::bulk_rows::kind;

std::optional<std::string_view> text(const boost::optional<std::string>& _value)
{
    if (!_value) return std::nullopt;
    return std::string_view(*_value);
}

template <typename T>
std::optional<long long> integer(const boost::optional<T>& _value)
{
    if (!_value) return std::nullopt;
    return static_cast<long long>(*_value);
}

}  // namespace

const char* const statement =
    "INSERT INTO positions ( trackable_id, trackable_uid, mac_address, ts, x, y, z, area_uid, project_uid, "
    "inactive ) VALUES (?,?,?,?,?,?,?,?,?,?)";

mariadb::bulk_rows make_rows()
{
    return mariadb::bulk_rows({kind::integer, kind::text, kind::text, kind::date_time, kind::integer,
                               kind::integer, kind::integer, kind::text, kind::text, kind::integer});
}

void fill(mariadb::bulk_rows& _rows, boost::sub_range<const positions_vector> _range)
{
    _rows.clear();
    for (const position& p : _range) {
        _rows.add_integer(p.trackable_id);
        _rows.add_text(std::string_view(p.trackable_uid));
        _rows.add_text(text(p.mac_address));
        const utc_fields f = to_utc_fields(p.ts);
        _rows.add_date_time({static_cast<unsigned>(f.year), f.month, f.day, f.hour, f.minute, f.second,
                             f.millisecond * 1000UL});
        _rows.add_integer(integer(p.x));
        _rows.add_integer(integer(p.y));
        _rows.add_integer(integer(p.z));
        _rows.add_text(text(p.area_uid));
        _rows.add_text(text(p.project_uid));
        _rows.add_integer(integer(p.inactive));
    }
}

}  // namespace zav::bulk_insert
