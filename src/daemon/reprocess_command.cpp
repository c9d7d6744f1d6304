#include "daemon/reprocess_command.hpp"

#include "daemon/range_reprocessor.hpp"
#include "daemon/resume_without_context.hpp"
#include "database_impl.hpp"

#include "core/civil_time.hpp"

#include <algorithm>
#include <regex>

namespace zav {

std::optional<libs::core::timestamp> parse_utc_time(const std::string& _text)
{
    static const std::regex form(R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,3}))?)");
    std::smatch m;
    if (!std::regex_match(_text, m, form)) return std::nullopt;
    const auto field = [&](int _i) { return std::stoll(m[_i].str()); };
    const long long year = field(1), month = field(2), day = field(3);
    if (month < 1 || month > 12 || day < 1 || field(4) > 23 || field(5) > 59 || field(6) > 59)
        return std::nullopt;
    // A day past the month's end would carry into the next month.
    const auto date = libs::core::civil_from_days(libs::core::days_from_civil(year, month, day));
    if (date.day != static_cast<unsigned>(day)) return std::nullopt;
    long long ms = 0;
    if (m[7].matched) {
        std::string fraction = m[7].str();
        fraction.resize(3, '0');
        ms = std::stoll(fraction);
    }
    const auto seconds = libs::core::seconds_from_civil(year, month, day, field(4), field(5), field(6));
    return libs::core::timestamp(std::chrono::milliseconds(seconds * 1000 + ms));
}

int run_reprocess_command(const config& _config, const libs::core::logger& _logger,
                          const libs::core::events_loop::signals_handle& _signals,
                          libs::core::timestamp _from, libs::core::timestamp _to, std::ostream& _out)
{
    const auto text = [](const libs::core::timestamp& _ts) { return _ts.to_iso_8601_string(true); };
    if (_to < _from) {
        _out << "trackmend: --reprocess: " << text(_from) << " is later than " << text(_to) << "\n";
        return 1;
    }
    const node_addresses nodes =
        _config.dw.hosts.empty() ? node_addresses{{_config.dw.host, _config.dw.port}} : _config.dw.hosts;
    database_impl store(nodes, _config.dw.user, _config.dw.password, _config.dw.database, _signals, _logger,
                        _config.system.insert_piece_size, _config.system.persistent_data_dir,
                        database_impl::default_lease_duration, _config.dw.tls);
    const auto newest = store.get_last_position_timestamp();
    const auto until = newest ? std::min(_to, *newest - resume_look_back) : _from;
    const auto after = _from - std::chrono::milliseconds(1);
    if (!(after < until)) {
        _out << "reprocessed nothing: positions "
             << (newest ? "has nothing older than " + text(*newest - resume_look_back) + " in that range"
                        : std::string("is empty"))
             << "\n";
        return 0;
    }
    range_reprocessor reprocessor(store, std::chrono::seconds(_config.system.select_duration_sec), false);
    const auto done = reprocessor.reprocess(after, until);
    _out << "reprocessed " << text(_from) << " to " << text(until) << ": " << done.removed
         << " rows removed, " << done.written << " rows written, " << done.tags.size() << " tags\n";
    return 0;
}

}  // namespace zav
