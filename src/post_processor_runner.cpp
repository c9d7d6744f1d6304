#include "post_processor_runner.hpp"

#include <algorithm>
#include <utility>

#include "core/exception.hpp"
#include "core/scope_guard.hpp"
#include "daemon/context_file.hpp"
#include "daemon/resume_without_context.hpp"
#include "store/inconsistent_state_error.hpp"
#include "store/retry_until_signalled.hpp"

namespace zav {

namespace {

// While positions is empty, windows start this much before the oldest raw
// position.
constexpr std::chrono::milliseconds first_window_lead{1000};
// Windows whose rows produced nothing (all held back) grow up to this many
// times the configured length before the runner asks the store where the
// next raw position is; windows without any row ask at once.
constexpr long long max_growth_factor = 100;

std::string to_log_string(const timestamp& _ts) { return _ts.to_iso_8601_string(true); }

}  // namespace

post_processor_runner::post_processor_runner(database& _database, logger& _logger, signals_handle& _signals,
                                             std::string _persistent_data_dir,
                                             std::chrono::seconds _select_duration,
                                             std::chrono::seconds _max_lateness,
                                             std::chrono::seconds _late_horizon, bool _repair_late_rows)
    : m_database(_database),
      m_logger(_logger),
      m_signals(_signals),
      m_context_file(std::move(_persistent_data_dir) + "/runner.bin"),
      m_select_duration(_select_duration),
      m_default_select_duration(_select_duration),
      m_max_lateness(_max_lateness),
      m_late_horizon(_late_horizon),
      m_feed(_database, _logger, {_max_lateness, _late_horizon, _repair_late_rows, _select_duration})
{
    // The window arithmetic relies on it: a jump over a gap must still reach
    // the next raw position after truncation to whole seconds.
    if (m_default_select_duration < std::chrono::seconds(1))
        throw libs::core::exception("select_duration_sec must be at least 1", CORE_SOURCE_LOCATION);
    if (m_max_lateness < std::chrono::seconds(0))
        throw libs::core::exception("max_lateness_sec must not be negative", CORE_SOURCE_LOCATION);

    // The first start has no file: the normal case, not an error. A file
    // that fails its check throws here, before anything could replace it.
    if (restore_additional_data().empty()) save({});

    // An interrupted write is completed before anything else reads
    // positions; a write that does not fit the table ends the start here.
    retry_until_signalled(m_logger, m_signals, CORE_SOURCE_LOCATION, [&] {
        m_database.recover_if_failed();
        m_last_inserted_positon_ts = m_database.get_last_position_timestamp();
    });
    if (!m_last_inserted_positon_ts) m_logger.info("Table 'positions' is empty");
}

void post_processor_runner::run()
{
    // No read ahead outlives the run: it refers to the saved contexts, and
    // the next run starts from what positions says.
    const auto join = libs::core::make_scope_guard([this] { join_read_ahead(); });
    const timestamp server_now = m_database.get_server_time();
    // Nothing later is read: the newest written time never runs ahead of
    // the present, whatever the producers' clocks say.
    const timestamp limit = server_now - m_max_lateness;
    m_feed.check_outliers(server_now);

    if (!m_last_inserted_positon_ts && !start_before_first_raw_position()) return;

    m_database.recover_if_failed();
    // Recovery may just have inserted the rest of an interrupted piece, and an
    // earlier run may have ended between moving the start in memory and
    // writing the piece: positions itself says where the next window starts.
    m_last_inserted_positon_ts = m_database.get_last_position_timestamp();
    if (!m_last_inserted_positon_ts && !start_before_first_raw_position()) return;

    while (move_one_piece(limit) && !m_signals.signal_is_received()) {
    }
    m_feed.check_late_rows(*m_last_inserted_positon_ts);
}

bool post_processor_runner::start_before_first_raw_position()
{
    m_last_inserted_positon_ts = m_database.get_first_raw_position_timestamp();
    if (!m_last_inserted_positon_ts) {
        m_logger.debug("Table 'positions_raw' is empty");
        return false;
    }
    // The window's lower bound is exclusive.
    *m_last_inserted_positon_ts -= first_window_lead;
    m_from_first_raw_position = true;
    return true;
}

bool post_processor_runner::move_one_piece(timestamp _limit)
{
    auto trace = m_logger.enter_function(CORE_SOURCE_LOCATION);
    // The read ahead uses the saved contexts: nothing below runs beside it.
    auto ahead = join_read_ahead();
    const timestamp last = m_last_inserted_positon_ts.value();

    m_logger.debug("Last inserted pos: %1%") % to_log_string(last);
    // Whole seconds up to the limit at most.
    const auto until_limit = std::chrono::duration_cast<std::chrono::seconds>(_limit - last);
    const auto duration = std::min(m_select_duration, until_limit);
    if (duration < std::chrono::seconds(1)) {
        m_logger.debug("No new positions").short_function(CORE_SOURCE_LOCATION);
        return false;
    }
    if (!m_saved_contexts.count(last)) {
        m_saved_contexts = restore_additional_data();
        m_saved_records.clear();
    }
    // Without the context of `last` (another daemon wrote up to it, or the
    // state was lost) the carry-over is rebuilt from earlier raw rows.
    const bool with_context = m_saved_contexts.count(last) != 0;
    const auto look_back = with_context ? std::chrono::seconds(0) : resume_look_back;
    const timestamp from = last - look_back;
    auto window = take_rows(std::move(ahead), from, duration + look_back);
    if (!window)
        window = read_window(from, duration + look_back, with_context ? &m_saved_contexts[last] : nullptr);
    if (window->read_times.empty()) {
        m_logger.debug("No positions found");
        return adjust_select_duration(_limit, true);
    }
    m_logger.debug("First ts in piece: %1%") % to_log_string(window->read_times.front());

    const auto raw_rows = window->read_times.size();
    if (!window->processed) {
        const auto& raw_positions = window->raw;
        if (m_rebuild_reported_for != last)
            m_logger.info("No carry-over for %1%: rebuilding it from the raw rows of the %2% s before") %
                to_log_string(last) % resume_look_back.count();
        m_rebuild_reported_for = last;
        auto rebuilt = positions_post_processor::process_positions({}, raw_positions);
        // Gap fills before `last` are in positions when the writer before had
        // written part of the batch that closed their gap; of the rows at
        // `last` it may have written some trackables' and not others'.
        window->processed_positions =
            positions_not_yet_written(rebuilt.processed_positions, raw_positions, last);
        drop_present_at(window->processed_positions, last, m_database.count_positions_at(last));
        std::erase_if(window->processed_positions,
                      [&](const position& _p) { return _p.ts < last && m_database.has_position(_p); });
        window->next_context = std::move(rebuilt.additional_data_);
    }
    const auto& processed_positions = window->processed_positions;
    // Gap fills before `last` alone do not move the window; they come again
    // with the next one.
    if (processed_positions.empty() || !(last < processed_positions.back().ts))
        return adjust_select_duration(_limit, false);

    const timestamp new_last = processed_positions.back().ts;
    // The context this window started from is kept next to the new one: until
    // the piece is in positions, a restart resumes from `last` again and must
    // find its context. The new time is always later than `last`, since the
    // newest processed position is a raw one read from this window.
    // Without a context of its own, `last` gets none: a restart rebuilds it
    // again rather than resume from an empty one.
    // The context of `last` was encoded when it was saved as the new one a
    // piece ago, and has not changed since.
    // A window read ahead had its file written ahead as well.
    const bool written_ahead = with_context && window->context_save;
    additional_data_map next_contexts;
    context_file::records next_records;
    if (written_ahead) {
        next_records = std::move(window->context_records);
    } else {
        next_records.emplace(new_last, context_file::encode(new_last, window->next_context));
        if (with_context) {
            const auto record = m_saved_records.find(last);
            next_records.emplace(last, record != m_saved_records.end()
                                           ? std::move(record->second)
                                           : context_file::encode(last, m_saved_contexts[last]));
        }
    }
    next_contexts.emplace(new_last, std::move(window->next_context));
    if (with_context) next_contexts.emplace(last, std::move(m_saved_contexts[last]));
    // Unknown until the save succeeds: a failed save leaves the old file,
    // which the next piece reads again.
    m_saved_contexts.clear();
    m_saved_records.clear();
    if (written_ahead)
        window->context_save->commit();
    else
        context_file::save(m_context_file, next_records);
    m_saved_contexts = std::move(next_contexts);
    m_saved_records = std::move(next_records);

    m_select_duration = m_default_select_duration;
    m_last_inserted_positon_ts = new_last;
    const bool more = new_last + m_select_duration < _limit;
    // The next window, which starts where this piece ends and whose context
    // was just saved, is read and processed while this piece is written: the
    // daemon and the server no longer take turns.
    // The window read every raw row of (last, new_last] there was; rows of
    // a look-back before `last` are not part of it. A row that appears in
    // that range later arrived late.
    const auto& read_times = window->read_times;
    read_range read{last, new_last,
                    std::upper_bound(read_times.begin(), read_times.end(), new_last) -
                        std::upper_bound(read_times.begin(), read_times.end(), last)};
    // The first piece after the windows started before the oldest raw row:
    // rows that arrive before it later are late as well.
    if (std::exchange(m_from_first_raw_position, false)) read.read_before_from = last - m_late_horizon;
    if (more && m_reader) start_read_ahead(new_last, m_select_duration, m_saved_contexts.at(new_last));
    m_database.write_positions(processed_positions, read);
    if (m_observer) m_observer->piece_moved({raw_rows, processed_positions.size(), new_last});
    return more;
}

post_processor_runner::window_rows post_processor_runner::read_window(
    timestamp _from, std::chrono::seconds _duration,
    const positions_post_processor::additional_data* _context) const
{
    window_rows window;
    window.raw = m_reader ? m_reader->get_raw_positions(_from, _duration)
                          : m_database.get_raw_positions(_from, _duration);
    // In time order (the store's contract), for the late-arrival count.
    window.read_times.reserve(window.raw.size());
    for (const auto& p : window.raw) window.read_times.push_back(p.ts);
    if (_context && !window.raw.empty()) {
        auto result = positions_post_processor::process_positions(*_context, std::move(window.raw));
        window.processed = true;
        window.processed_positions = std::move(result.processed_positions);
        window.next_context = std::move(result.additional_data_);
    }
    return window;
}

void post_processor_runner::write_context_ahead(window_rows& _window, timestamp _last,
                                                const std::string& _last_record) const
{
    const auto& processed_positions = _window.processed_positions;
    if (!_window.processed || processed_positions.empty() || !(_last < processed_positions.back().ts)) return;
    const timestamp new_last = processed_positions.back().ts;
    context_file::records records;
    records.emplace(new_last, context_file::encode(new_last, _window.next_context));
    records.emplace(_last, _last_record);
    try {
        _window.context_save = context_file::prepare_save(m_context_file, records);
        _window.context_records = std::move(records);
    } catch (const std::exception&) {
        // The save at the window's turn writes the file itself and reports
        // what fails.
    }
}

void post_processor_runner::start_read_ahead(timestamp _from, std::chrono::seconds _duration,
                                             const positions_post_processor::additional_data& _context)
{
    // The saved record of _context, which stays unchanged as _context does.
    const auto record = m_saved_records.find(_from);
    const std::string* from_record = record != m_saved_records.end() ? &record->second : nullptr;
    m_read_ahead = read_ahead{
        _from, _duration, std::async(std::launch::async, [this, _from, _duration, &_context, from_record] {
            auto window = read_window(_from, _duration, &_context);
            // The file of the next save is written while the last piece is,
            // so that the save between them is a rename.
            if (from_record) write_context_ahead(window, _from, *from_record);
            return window;
        })};
}

boost::optional<post_processor_runner::read_ahead> post_processor_runner::join_read_ahead()
{
    auto ahead = std::exchange(m_read_ahead, boost::none);
    if (ahead) ahead->rows.wait();
    return ahead;
}

boost::optional<post_processor_runner::window_rows> post_processor_runner::take_rows(
    boost::optional<read_ahead> _ahead, timestamp _from, std::chrono::seconds _duration) const
{
    if (!_ahead || _ahead->from != _from || _ahead->duration != _duration) return boost::none;
    try {
        return _ahead->rows.get();
    } catch (const std::exception& e) {
        // The reader reconnects at its next statement; should the window fail
        // again, the run fails as any other read does.
        m_logger.info("Reading the next window ahead failed, reading it again: %1%") % e.what();
        return boost::none;
    }
}

bool post_processor_runner::adjust_select_duration(timestamp _limit, bool _no_rows)
{
    const timestamp last = m_last_inserted_positon_ts.value();

    if (!(last + m_select_duration < _limit)) {
        m_logger.debug("No new positions").short_function(CORE_SOURCE_LOCATION);
        return false;
    }
    // A window without any raw row is jumped over at once: growing it step
    // by step would cost up to a hundred empty queries per run while the
    // feed is quiet.
    // Windows that hold rows double, so that a caught-up run needs a few
    // attempts, not one per configured length, to reach the present.
    const std::chrono::seconds max_duration = max_growth_factor * m_default_select_duration;
    if (!_no_rows && m_select_duration < max_duration) {
        m_select_duration = std::min<std::chrono::seconds>(2 * m_select_duration, max_duration);
        return true;
    }

    const auto next = m_database.get_next_raw_position_timestamp(last + m_select_duration);
    if (!next || *next > _limit) {
        m_logger.debug("No new positions").short_function(CORE_SOURCE_LOCATION);
        return false;
    }
    // Whole seconds from `last` to `next`, plus one configured length: the
    // next window (last, last + d] contains `next`.
    const auto to_next = (*next + m_default_select_duration) - (last + m_select_duration);
    m_select_duration += std::chrono::duration_cast<std::chrono::seconds>(to_next);
    return true;
}

void post_processor_runner::save(const additional_data_map& _additional_data_map)
{
    context_file::save(m_context_file, _additional_data_map);
}

post_processor_runner::additional_data_map post_processor_runner::restore_additional_data() const
{
    // A file that exists but fails its check is not passed over, nor replaced
    // by the next save: something other than this daemon changed it, and an
    // operator decides whether to go on without it. Its
    // corrupt_state_file_error stops the daemon, or its start.
    auto saved = context_file::load(m_context_file);
    if (!saved) {
        m_logger.info("no saved context; starting without look-back");
        return {};
    }
    return std::move(*saved);
}

}  // namespace zav
