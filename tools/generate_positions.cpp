// Writes realistic synthetic raw positions of an indoor locating system,
// reproducibly from a seed: N tags walking through a hall, each reporting at
// its own rate with jitter, with dropouts of 1 to 8 s, outliers, missing
// coordinates, non-position records and (batch format) malformed lines.
// Lines are in time order across all tags.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <queue>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const help_text =
    "Usage: generate_positions [options]\n"
    "Writes synthetic raw positions in time order, reproducibly from the seed.\n"
    "\n"
    "  --tags N          number of tags (default 100)\n"
    "  --seconds S       length of the recording in seconds (default 60)\n"
    "  --rate HZ         mean report rate per tag; each tag deviates by up to\n"
    "                    10 %, each report is jittered by up to 20 % of the\n"
    "                    period (default 5)\n"
    "  --lines N         stop after N lines (default: no limit; --seconds ends\n"
    "                    the output otherwise)\n"
    "  --seed K          seed of the random generator (default 1)\n"
    "  --start TIME      first instant, UTC, \"YYYY-MM-DD hh:mm:ss\"\n"
    "                    (default \"2024-05-01 00:00:00\")\n"
    "  --format F        batch: the pipe-separated input of trackmend -i, with\n"
    "                    BLE lines and malformed lines mixed in;\n"
    "                    raw-tsv: tab-separated rows for\n"
    "                      LOAD DATA LOCAL INFILE ... INTO TABLE positions_raw\n"
    "                      FIELDS TERMINATED BY '\\t' (trackable_id, trackable_uid,\n"
    "                      mac_address, ts, x, y, z, area_uid, project_uid,\n"
    "                      inactive, type)\n"
    "                    with \\N for NULL and some 'HB' heartbeat rows\n"
    "                    (default batch)\n"
    "  --clean           no dropouts, outliers, missing coordinates, non-position\n"
    "                    or malformed lines\n"
    "  --out FILE        output file (default: standard output)\n"
    "  --help            this text\n"
    "\n"
    "Rates of the faults (per report, unless --clean): a dropout of 1 to 8 s\n"
    "starts with probability 0.002, an outlier 2 to 10 m off 0.005, a missing x\n"
    "or y 0.003, a non-position line (BLE / HB) 0.01, a malformed line 0.002.\n";

struct options
{
    long tags = 100;
    double seconds = 60;
    double rate = 5;
    long long lines = -1;
    unsigned long long seed = 1;
    std::string start = "2024-05-01 00:00:00";
    std::string format = "batch";
    bool clean = false;
    std::string out;
};

struct tag_state
{
    std::string uid;
    std::string mac;  // empty: none
    long long id = 0;
    double period_ms = 200;
    double x = 0, y = 0, z = 1200;
    double vx = 0, vy = 0;
    long long next_ms = 0;
    long long dropout_until = 0;
    unsigned area = 0;
};

constexpr double hall_width_mm = 120000;
constexpr double hall_depth_mm = 60000;

bool parse_start(const std::string& _text, long long& _epoch_ms)
{
    tm fields{};
    int year, month, day, hour, minute, second;
    if (std::sscanf(_text.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
        return false;
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    _epoch_ms = static_cast<long long>(timegm(&fields)) * 1000;
    return true;
}

// Renders the date and time of one whole second, cached because consecutive
// lines mostly share it.
class time_text
{
public:
    std::string_view seconds_text(long long _epoch_ms)
    {
        const long long second = _epoch_ms / 1000;
        if (second != m_second) {
            m_second = second;
            const time_t t = static_cast<time_t>(second);
            tm fields{};
            gmtime_r(&t, &fields);
            m_length = std::strftime(m_text, sizeof m_text, "%Y-%m-%d %H:%M:%S", &fields);
        }
        return std::string_view(m_text, m_length);
    }

private:
    long long m_second = -1;
    char m_text[32]{};
    std::size_t m_length = 0;
};

class line_writer
{
public:
    explicit line_writer(std::FILE* _file) : m_file(_file) { m_buffer.reserve(1 << 20); }
    ~line_writer() { flush(); }

    line_writer& operator<<(std::string_view _text)
    {
        m_buffer.append(_text);
        return *this;
    }
    line_writer& operator<<(char _c)
    {
        m_buffer.push_back(_c);
        return *this;
    }
    line_writer& number(long long _value)
    {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, _value);
        m_buffer.append(digits, r.ptr);
        return *this;
    }
    line_writer& milliseconds(long long _epoch_ms)
    {
        const auto ms = static_cast<int>(_epoch_ms % 1000);
        m_buffer.push_back('.');
        m_buffer.push_back(static_cast<char>('0' + ms / 100));
        m_buffer.push_back(static_cast<char>('0' + ms / 10 % 10));
        m_buffer.push_back(static_cast<char>('0' + ms % 10));
        return *this;
    }
    void end_line()
    {
        m_buffer.push_back('\n');
        if (m_buffer.size() >= (1 << 20) - 512) flush();
    }
    void flush()
    {
        if (!m_buffer.empty() && std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
            m_failed = true;
        m_buffer.clear();
    }
    bool failed() const { return m_failed; }

private:
    std::FILE* m_file;
    std::string m_buffer;
    bool m_failed = false;
};

bool parse_options(int argc, char* argv[], options& _options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](const char* _name) -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "generate_positions: " << _name << " needs a value\n";
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        try {
            if (arg == "--help") {
                std::cout << help_text;
                std::exit(0);
            } else if (arg == "--clean") {
                _options.clean = true;
            } else if (arg == "--tags") {
                if (!(v = value("--tags"))) return false;
                _options.tags = std::stol(v);
            } else if (arg == "--seconds") {
                if (!(v = value("--seconds"))) return false;
                _options.seconds = std::stod(v);
            } else if (arg == "--rate") {
                if (!(v = value("--rate"))) return false;
                _options.rate = std::stod(v);
            } else if (arg == "--lines") {
                if (!(v = value("--lines"))) return false;
                _options.lines = std::stoll(v);
            } else if (arg == "--seed") {
                if (!(v = value("--seed"))) return false;
                _options.seed = std::stoull(v);
            } else if (arg == "--start") {
                if (!(v = value("--start"))) return false;
                _options.start = v;
            } else if (arg == "--format") {
                if (!(v = value("--format"))) return false;
                _options.format = v;
            } else if (arg == "--out") {
                if (!(v = value("--out"))) return false;
                _options.out = v;
            } else {
                std::cerr << "generate_positions: unknown option " << arg << " (see --help)\n";
                return false;
            }
        } catch (const std::exception&) {
            std::cerr << "generate_positions: invalid value \"" << v << "\" for " << arg << "\n";
            return false;
        }
    }
    if (_options.tags < 1 || _options.rate <= 0 || _options.seconds < 0) {
        std::cerr
            << "generate_positions: --tags must be at least 1, --rate positive, --seconds not negative\n";
        return false;
    }
    if (_options.format != "batch" && _options.format != "raw-tsv") {
        std::cerr << "generate_positions: --format must be batch or raw-tsv\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    options opt;
    if (!parse_options(argc, argv, opt)) return 1;
    long long start_ms = 0;
    if (!parse_start(opt.start, start_ms)) {
        std::cerr << "generate_positions: --start must be \"YYYY-MM-DD hh:mm:ss\"\n";
        return 1;
    }
    std::FILE* file = opt.out.empty() ? stdout : std::fopen(opt.out.c_str(), "wb");
    if (file == nullptr) {
        std::cerr << "generate_positions: cannot create \"" << opt.out << "\": " << std::strerror(errno)
                  << "\n";
        return 1;
    }

    std::mt19937_64 random(opt.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);

    std::vector<tag_state> tags(static_cast<std::size_t>(opt.tags));
    const double mean_period_ms = 1000.0 / opt.rate;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        auto& t = tags[i];
        char uid[24];
        std::snprintf(uid, sizeof uid, "0x%04zX", 0x6700 + i);
        t.uid = uid;
        if (i % 2 == 0) {
            char mac[24];
            std::snprintf(mac, sizeof mac, "D8:80:39:%02zX:%02zX:%02zX", (i >> 16) & 0xff, (i >> 8) & 0xff,
                          i & 0xff);
            t.mac = mac;
        }
        t.id = 1000 + static_cast<long long>(i);
        t.period_ms = mean_period_ms * (0.9 + 0.2 * unit(random));
        t.x = unit(random) * hall_width_mm;
        t.y = unit(random) * hall_depth_mm;
        t.z = 800 + unit(random) * 1200;
        t.area = static_cast<unsigned>(i % 3);
        t.next_ms = start_ms + static_cast<long long>(unit(random) * t.period_ms);
    }

    // The tag with the earliest next report comes next, so the output is in
    // time order.
    using entry = std::pair<long long, std::size_t>;
    std::priority_queue<entry, std::vector<entry>, std::greater<>> due;
    for (std::size_t i = 0; i < tags.size(); ++i) due.emplace(tags[i].next_ms, i);

    const bool batch = opt.format == "batch";
    const char sep = batch ? '|' : '\t';
    const long long end_ms = start_ms + static_cast<long long>(opt.seconds * 1000);
    const std::string_view areas[] = {"hall-1", "hall-2", "yard"};
    line_writer out(file);
    time_text clock;
    long long written = 0;
    long long row = 0;

    while (!due.empty() && (opt.lines < 0 || written < opt.lines)) {
        const auto [now, index] = due.top();
        due.pop();
        if (now >= end_ms && opt.lines < 0) continue;
        auto& t = tags[index];

        // Random walk: the velocity drifts, walls reflect.
        const double dt = t.period_ms / 1000.0;
        t.vx = std::clamp(t.vx * 0.95 + gauss(random) * 800 * dt, -1500.0, 1500.0);
        t.vy = std::clamp(t.vy * 0.95 + gauss(random) * 800 * dt, -1500.0, 1500.0);
        t.x += t.vx * dt;
        t.y += t.vy * dt;
        if (t.x < 0 || t.x > hall_width_mm) {
            t.vx = -t.vx;
            t.x = std::clamp(t.x, 0.0, hall_width_mm);
        }
        if (t.y < 0 || t.y > hall_depth_mm) {
            t.vy = -t.vy;
            t.y = std::clamp(t.y, 0.0, hall_depth_mm);
        }
        const double jitter = (unit(random) - 0.5) * 0.4 * t.period_ms;
        t.next_ms = now + std::max<long long>(1, static_cast<long long>(t.period_ms + jitter));
        due.emplace(t.next_ms, index);

        if (!opt.clean && now >= t.dropout_until && unit(random) < 0.002)
            t.dropout_until = now + 1000 + static_cast<long long>(unit(random) * 7000);
        if (now < t.dropout_until) continue;

        const double fault = opt.clean ? 1.0 : unit(random);
        // Measurement noise of a few centimetres; outliers metres off.
        long long x = std::llround(t.x + gauss(random) * 40);
        long long y = std::llround(t.y + gauss(random) * 40);
        if (fault < 0.005) {
            x += static_cast<long long>((unit(random) < 0.5 ? -1 : 1) * (2000 + unit(random) * 8000));
            y += static_cast<long long>((unit(random) < 0.5 ? -1 : 1) * (2000 + unit(random) * 8000));
        }
        const bool missing_x = fault >= 0.005 && fault < 0.0065;
        const bool missing_y = fault >= 0.0065 && fault < 0.008;
        const bool other_kind = fault >= 0.008 && fault < 0.018;
        const bool malformed = batch && fault >= 0.018 && fault < 0.020;
        const long long z = std::llround(t.z + gauss(random) * 30);
        const bool inactive = std::hypot(t.vx, t.vy) < 100;
        ++row;

        if (batch) {
            out << t.uid << sep << (t.mac.empty() ? std::string_view("\\N") : std::string_view(t.mac)) << sep;
            if (malformed && row % 3 == 0) {
                out << "2024-05-01T" << clock.seconds_text(now).substr(11);  // a 'T' separator does not parse
            } else {
                out << clock.seconds_text(now);
                out.milliseconds(now);
            }
            out << sep;
            out.number(row) << sep << "gen" << sep << "\\N" << sep << "\\N" << sep << "\\N" << sep;
            out << (other_kind ? "BLE" : "UWB") << sep;
            if (missing_x)
                out << "\\N";
            else if (malformed && row % 3 == 1)
                out << "";  // an empty number field does not parse
            else
                out.number(x);
            out << sep;
            if (missing_y)
                out << "\\N";
            else
                out.number(y);
            if (malformed && row % 3 == 2) {
                out.end_line();  // cut short after field 11
                ++written;
                continue;
            }
            out << sep;
            out.number(z) << sep << areas[t.area] << sep << "plant-a" << sep;
            out.number(inactive ? 1 : 0);
        } else {
            out.number(t.id) << sep << t.uid << sep
                             << (t.mac.empty() ? std::string_view("\\N") : std::string_view(t.mac)) << sep;
            out << clock.seconds_text(now);
            out.milliseconds(now) << "000" << sep;
            if (other_kind) {
                out << "\\N" << sep << "\\N" << sep << "\\N" << sep;
            } else {
                if (missing_x)
                    out << "\\N";
                else
                    out.number(x);
                out << sep;
                if (missing_y)
                    out << "\\N";
                else
                    out.number(y);
                out << sep;
                out.number(z) << sep;
            }
            out << areas[t.area] << sep << "plant-a" << sep;
            out.number(inactive ? 1 : 0) << sep << (other_kind ? "HB" : "UWB");
        }
        out.end_line();
        ++written;
    }

    out.flush();
    const bool failed = out.failed() || std::fflush(file) != 0 || (file != stdout && std::fclose(file) != 0);
    if (failed) {
        std::cerr << "generate_positions: writing failed: " << std::strerror(errno) << "\n";
        return 1;
    }
    return 0;
}
