#include "store/state_file.hpp"

#include "store/binary_records.hpp"
#include "store/corrupt_state_file_error.hpp"

#include "support/files.hpp"

#include <gtest/gtest.h>

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>

#include <cstdint>
#include <fstream>
#include <sstream>

namespace {

constexpr zav::state_file::kind test_file{"TMTS", "the numbers of a test", "Nothing is lost without it."};

class StateFileTest : public ::testing::Test
{
protected:
    // A file of two numbers, as the writer frames it.
    std::string framed(std::uint32_t _a, std::int64_t _b) const
    {
        std::string content;
        zav::state_file::begin(content, test_file);
        zav::binary_records::append_u32(content, _a);
        zav::binary_records::append_i64(content, _b);
        zav::state_file::finish(content);
        return content;
    }

    // Loads the file; "missing", "a b" or the message of the error thrown.
    std::string load() const
    {
        std::uint32_t a = 0;
        std::int64_t b = 0;
        try {
            const bool found = zav::state_file::load(
                m_path, test_file,
                [&](std::istream& _is) {
                    a = zav::binary_records::read_u32(_is);
                    b = zav::binary_records::read_i64(_is);
                },
                [&](boost::archive::text_iarchive& _archive) { _archive >> a >> b; });
            return found ? std::to_string(a) + " " + std::to_string(b) : "missing";
        } catch (const zav::corrupt_state_file_error& e) {
            return e.get_string_error();
        }
    }

    // Writes _content, loads it and checks that it failed with _fault and
    // left the file as it was.
    void expect_kept(const std::string& _content, const std::string& _fault, const std::string& _case)
    {
        trackmend_test::write_file(m_path, _content);
        const auto message = load();
        EXPECT_NE(message.find("State file " + m_path + " " + _fault), std::string::npos)
            << _case << ": " << message;
        EXPECT_EQ(trackmend_test::read_file(m_path), _content) << _case << ": the file was changed";
    }

    trackmend_test::temporary_directory m_dir{"state_file"};
    std::string m_path = (m_dir / "test.bin").string();
};

}  // namespace

TEST_F(StateFileTest, ReadsTheFramedFileVersionOneAndTheTextArchiveAndAMissingFileIsNone)
{
    EXPECT_EQ(load(), "missing");

    const auto content = framed(7, -9);
    // magic, version 2, body length 12, the body, CRC-32C of all before it
    EXPECT_EQ(content.substr(0, 16), std::string("TMTS\x02\0\0\0\x0c\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(content.size(), 16u + 12u + 4u);
    trackmend_test::write_file(m_path, content);
    EXPECT_EQ(load(), "7 -9");

    trackmend_test::write_file(m_path, std::string("TMTS\x01\0\0\0", 8) + content.substr(16, 12));
    EXPECT_EQ(load(), "7 -9") << "version 1, without length and checksum";

    {
        std::ofstream file(m_path);
        boost::archive::text_oarchive archive(file);
        const std::uint32_t a = 5;
        const std::int64_t b = 6;
        archive << a << b;
    }
    EXPECT_EQ(load(), "5 6") << "a text archive of the versions before";
}

TEST_F(StateFileTest, AnyDamageStopsWithTheFileKeptAsItIs)
{
    const auto content = framed(7, -9);
    // Every byte flipped: in the magic it no longer names the format, in the
    // version it names an unknown one, in the length it cuts the file short
    // or leaves bytes after its end, anywhere else the checksum fails.
    for (std::size_t i = 0; i < content.size(); ++i) {
        auto damaged = content;
        damaged[i] = static_cast<char>(damaged[i] ^ 0xFF);
        const std::string fault = i < 4    ? "is neither of this program's format"
                                  : i < 8  ? "has version"
                                  : i < 16 ? "is cut short"
                                           : "fails its checksum";
        expect_kept(damaged, fault, "byte " + std::to_string(i) + " flipped");
    }
    for (std::size_t length = 1; length < content.size(); ++length)
        expect_kept(content.substr(0, length), length < 4 ? "is neither" : "is cut short",
                    "cut to " + std::to_string(length));
    expect_kept("", "is empty", "empty");
    expect_kept(content + "x", "has 1 bytes after its end", "trailing byte");

    auto unknown = framed(7, -9);
    unknown[4] = 3;
    expect_kept(unknown, "has version 3, which this trackmend does not know", "version 3");
    expect_kept(std::string("TMTS\x01\0\0\0", 8) + content.substr(16, 12) + "x", "cannot be read",
                "version 1 with a trailing byte");

    // The message says what the operator does.
    trackmend_test::write_file(m_path, content.substr(0, 20));
    const auto message = load();
    for (const std::string& part :
         {std::string("It holds the numbers of a test"), std::string("is kept as it is"),
          "mv " + m_path + " " + m_path + ".bad", std::string("Nothing is lost without it.")})
        EXPECT_NE(message.find(part), std::string::npos) << part << " is missing from: " << message;

    // An exception of the caller's reader is a fault of the file as well.
    trackmend_test::write_file(m_path, content);
    EXPECT_THROW(zav::state_file::load(
                     m_path, test_file, [](std::istream&) { throw std::runtime_error("impossible value"); },
                     [](boost::archive::text_iarchive&) {}),
                 zav::corrupt_state_file_error);
    EXPECT_EQ(trackmend_test::read_file(m_path), content);
}
