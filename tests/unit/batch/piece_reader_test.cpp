#include "batch/piece_reader.hpp"

#include "batch/csv_position_parser.hpp"
#include "support/files.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

using namespace zav;

namespace {

// One piece as its user sees it: the records with their texts spelled out.
struct seen_piece
{
    std::vector<std::string> lines;  // uid, time and x of each record
    bool at_end;
    std::uint64_t lines_read;

    bool operator==(const seen_piece&) const = default;
};

std::string describe(const position_record& _r, const record_strings& _strings)
{
    return _strings.text(_r.uid) + " " + std::to_string(_r.ts) + " " + std::to_string(_r.x);
}

// The pieces of reading on the caller's thread, as batch mode did it.
std::vector<seen_piece> read_here(const std::string& _path, std::size_t _piece_size)
{
    csv_line_reader input(_path);
    record_strings strings;
    std::vector<seen_piece> pieces;
    do {
        std::vector<position_record> records;
        while (records.size() < _piece_size) {
            const auto line = input.next_line();
            if (!line) break;
            append_csv_record(*line, strings, records);
        }
        seen_piece piece{{}, input.at_end(), input.lines()};
        for (const position_record& r : records) piece.lines.push_back(describe(r, strings));
        pieces.push_back(piece);
    } while (!input.at_end());
    return pieces;
}

// The same pieces through the reading thread, the texts numbered from the
// blocks' new texts alone.
std::vector<seen_piece> read_ahead(const std::string& _path, std::size_t _piece_size)
{
    csv_line_reader input(_path);
    piece_reader reader(input, _piece_size);
    record_strings strings;
    std::vector<seen_piece> pieces;
    for (bool more = true; more;) {
        const piece_reader::block& block = reader.next();
        EXPECT_EQ(block.error, "");
        strings.adopt(block.new_texts);
        std::size_t begin = 0;
        for (const piece_reader::piece& p : block.pieces) {
            seen_piece piece{{}, p.at_end, p.lines};
            for (std::size_t i = begin; i < p.end; ++i)
                piece.lines.push_back(describe(block.records[i], strings));
            begin = p.end;
            pieces.push_back(piece);
            more = !p.at_end;
        }
        if (!block.error.empty()) break;
    }
    return pieces;
}

std::string input_text(int _lines)
{
    std::string text;
    for (int i = 0; i < _lines; ++i) {
        const std::string uid = "tag" + std::to_string(i % 13);
        const std::string time = "2024-05-01 00:" + std::string(i / 600 < 10 ? "0" : "") +
                                 std::to_string(i / 600) + ":" + std::string(i % 600 / 10 < 10 ? "0" : "") +
                                 std::to_string(i % 600 / 10) + "." + std::to_string(100 + i % 10 * 10);
        // Every ninth line is malformed and does not count toward a piece.
        const std::string kind = i % 9 == 4 ? "BLE" : "UWB";
        text += uid + "|mac" + std::to_string(i % 5) + "|" + time + "|1|f|\\N|\\N|\\N|" + kind + "|" +
                std::to_string(i) + "|7|1200|area" + std::to_string(i % 3) + "|proj|0\n";
    }
    return text;
}

TEST(PieceReaderTest, PiecesAndTextsAreThoseOfReadingOnTheCallersThread)
{
    trackmend_test::temporary_directory dir("piece_reader_test");
    // 900 lines, 800 valid: piece sizes that divide 800 end with a full
    // piece and then an empty one at the end; 1 and 7 put many pieces in a
    // block; 100,000 gives one short piece.
    const auto path = (dir / "in.csv").string();
    trackmend_test::write_file(path, input_text(900));
    for (const std::size_t piece_size : {1, 7, 100, 800, 799, 100000}) {
        const auto expected = read_here(path, piece_size);
        EXPECT_EQ(read_ahead(path, piece_size), expected) << "-p " << piece_size;
    }
    // Blocks fill up to tens of thousands of records: pieces of a few
    // positions cross several blocks, with texts first seen in later ones.
    std::string large = input_text(600 * 60 * 2);
    for (int i = 0; i < 50; ++i)
        large += "late" + std::to_string(i) + "|m|2024-05-01 01:00:00.000|1|f|\\N|\\N|\\N|UWB|1|2|3|a|p|0\n";
    trackmend_test::write_file(path, large);
    EXPECT_EQ(read_ahead(path, 3), read_here(path, 3));
    trackmend_test::write_file(path, "");
    EXPECT_EQ(read_ahead(path, 5), read_here(path, 5));
}

TEST(PieceReaderTest, StopsWhenItsUserStopsEarly)
{
    trackmend_test::temporary_directory dir("piece_reader_test");
    const auto path = (dir / "in.csv").string();
    trackmend_test::write_file(path, input_text(600 * 60 * 3));
    csv_line_reader input(path);
    {
        piece_reader reader(input, 10);
        EXPECT_FALSE(reader.next().pieces.empty());
        // Destroyed while the thread reads further or waits for a free
        // block: neither may hang.
    }
}

TEST(PieceReaderTest, StopsWithinAPieceWithoutReadingTheRestOfTheInput)
{
    // An input without end, through a pipe: a piece larger than anything it
    // will deliver is never complete, so the reader has to stop in its middle.
    trackmend_test::temporary_directory dir("piece_reader_test");
    const auto fifo = (dir / "in.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto old_sigpipe = std::signal(SIGPIPE, SIG_IGN);
    constexpr long long cap = 1LL << 30;
    std::atomic<long long> written = 0;
    std::thread producer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        const std::string lines = input_text(1000);
        // Ends when the reading side has been closed (EPIPE), or at the cap.
        while (written < cap) {
            const ssize_t n = ::write(fd, lines.data(), lines.size());
            if (n <= 0) break;
            written += n;
        }
        ::close(fd);
    });
    {
        csv_line_reader input(fifo);
        {
            piece_reader reader(input, 100'000'000);
            while (written < 1'000'000) std::this_thread::yield();
        }
        EXPECT_LT(written, cap) << "the reader was stopped, yet read everything";
    }
    producer.join();
    std::signal(SIGPIPE, old_sigpipe);
}

}  // namespace
