#include "post_processor_runner.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/utility.hpp>
#include <fstream>
#include <thread>
#include <utility>

#include "core/atomic_file.hpp"
#include "core/exception.hpp"

namespace zav {

namespace {

constexpr std::chrono::seconds retry_delay{5};
constexpr std::chrono::milliseconds signal_poll_interval{100};
// While positions is empty, windows start this much before the oldest raw
// position.
constexpr std::chrono::milliseconds first_window_lead{1000};
// Empty windows grow up to this many times the configured length before the
// runner asks the store where the next raw position is.
constexpr long long max_growth_factor = 100;

std::string to_log_string(const timestamp& _ts) { return _ts.to_iso_8601_string(true); }

}  // namespace

post_processor_runner::post_processor_runner(database& _database, logger& _logger, signals_handle& _signals,
                                             std::string _persistent_data_dir,
                                             std::chrono::seconds _select_duration)
    : m_database(_database),
      m_logger(_logger),
      m_signals(_signals),
      m_persistent_data_file(std::move(_persistent_data_dir) + "/runner.bin"),
      m_select_duration(_select_duration),
      m_default_select_duration(_select_duration)
{
    // The window arithmetic relies on it: a jump over a gap must still reach
    // the next raw position after truncation to whole seconds.
    if (m_default_select_duration < std::chrono::seconds(1))
        throw libs::core::exception("select_duration_sec must be at least 1", CORE_SOURCE_LOCATION);

    if (restore_additional_data().empty()) save({});

    m_last_inserted_positon_ts = read_last_position_timestamp_with_retry();
    if (!m_last_inserted_positon_ts) m_logger.info("Table 'positions' is empty");
}

boost::optional<timestamp> post_processor_runner::read_last_position_timestamp_with_retry() const
{
    for (;;) {
        boost::optional<timestamp> last;
        if (m_logger.execute([&] { last = m_database.get_last_position_timestamp(); })) return last;
        if (m_signals.signal_is_received()) throw libs::core::exception("Interrupted", CORE_SOURCE_LOCATION);
        // Polls the flag while waiting, so that a stop request is answered by
        // one more attempt at once instead of after the full delay.
        for (auto waited = std::chrono::milliseconds(0);
             waited < retry_delay && !m_signals.signal_is_received(); waited += signal_poll_interval)
            std::this_thread::sleep_for(signal_poll_interval);
    }
}

void post_processor_runner::run()
{
    if (!m_last_inserted_positon_ts && !start_before_first_raw_position()) return;

    m_database.recover_if_failed();
    // Recovery may just have inserted the rest of an interrupted piece, and an
    // earlier run may have ended between moving the start in memory and
    // writing the piece: positions itself says where the next window starts.
    m_last_inserted_positon_ts = m_database.get_last_position_timestamp();
    if (!m_last_inserted_positon_ts && !start_before_first_raw_position()) return;

    while (move_one_piece() && !m_signals.signal_is_received()) {
    }
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
    return true;
}

bool post_processor_runner::move_one_piece()
{
    auto trace = m_logger.enter_function(CORE_SOURCE_LOCATION);
    const timestamp last = m_last_inserted_positon_ts.value();

    m_logger.debug("Last inserted pos: %1%") % to_log_string(last);
    auto raw_positions = m_database.get_raw_positions(last, m_select_duration);
    if (raw_positions.empty()) {
        m_logger.debug("No positions found");
        return adjust_select_duration();
    }
    m_logger.debug("First ts in piece: %1%") % to_log_string(raw_positions.front().ts);

    const auto raw_rows = raw_positions.size();
    if (!m_saved_contexts.count(last)) m_saved_contexts = restore_additional_data();
    auto result =
        positions_post_processor::process_positions(m_saved_contexts[last], std::move(raw_positions));
    if (result.processed_positions.empty()) return adjust_select_duration();

    const timestamp new_last = result.processed_positions.back().ts;
    // The context this window started from is kept next to the new one: until
    // the piece is in positions, a restart resumes from `last` again and must
    // find its context. The new time is always later than `last`, since the
    // newest processed position is a raw one read from this window.
    additional_data_map next_contexts;
    next_contexts.emplace(new_last, std::move(result.additional_data_));
    next_contexts.emplace(last, std::move(m_saved_contexts[last]));
    // Unknown until the save succeeds: a failed save leaves the old file,
    // which the next piece reads again.
    m_saved_contexts.clear();
    save(next_contexts);
    m_saved_contexts = std::move(next_contexts);

    m_select_duration = m_default_select_duration;
    m_last_inserted_positon_ts = new_last;
    m_database.write_positions(result.processed_positions);
    if (m_observer) m_observer->piece_moved({raw_rows, result.processed_positions.size(), new_last});

    return new_last + m_select_duration < timestamp::current_time();
}

bool post_processor_runner::adjust_select_duration()
{
    const timestamp last = m_last_inserted_positon_ts.value();
    const auto now = timestamp::current_time();

    if (!(last + m_select_duration < now)) {
        m_logger.debug("No new positions").short_function(CORE_SOURCE_LOCATION);
        return false;
    }
    if (m_select_duration.count() < max_growth_factor * m_default_select_duration.count()) {
        m_select_duration += m_default_select_duration;
        return true;
    }

    const auto next = m_database.get_next_raw_position_timestamp(last + m_select_duration);
    if (!next) {
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
    // Replaced atomically: a crash while saving leaves the previous contexts,
    // never a torn file.
    libs::core::write_file_atomically(m_persistent_data_file, [&](std::ostream& _os) {
        boost::archive::text_oarchive archive(_os);
        archive << _additional_data_map;
    });
}

post_processor_runner::additional_data_map post_processor_runner::restore_additional_data() const
{
    additional_data_map result;
    m_logger.execute([&] {
        std::ifstream file(m_persistent_data_file);
        boost::archive::text_iarchive archive(file);
        archive >> result;
    });
    return result;
}

}  // namespace zav
