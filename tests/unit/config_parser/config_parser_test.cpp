#include <gtest/gtest.h>

#include <boost/exception/exception.hpp>
#include <boost/optional/optional_io.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config_parser/config.hpp"

using namespace zav::libs::config;

namespace {

config::ptr parse(const std::string& _text)
{
    std::istringstream stream(_text);
    return config::create<type::json>(stream);
}

std::vector<const value*> elements(const value::array& _range)
{
    std::vector<const value*> out;
    for (value& element : _range) out.push_back(&element);
    return out;
}

}  // namespace

TEST(ConfigParserTest, ConversionsYieldOnlyTheirOwnKind)
{
    const auto doc = parse(R"({"i": 12, "n": null, "o": {"x": 1}, "a": [1], "big": 3000000000})");
    // Integral reals, fractions, strings and numbers as booleans are covered
    // through the configuration's own settings.
    EXPECT_EQ(doc->get<int>("i"), 12);
    EXPECT_EQ(doc->get<double>("i"), 12.0);
    EXPECT_EQ(doc->get<std::string>("i"), boost::none);
    EXPECT_FALSE(doc->get<const dictionary&>("a"));
    EXPECT_FALSE(doc->get_root().get<value::array>("o"));
    EXPECT_THROW(doc->get<int>("big"), std::exception) << "outside int: the JSON library's error";

    const auto null = doc->get_root().get_value("n");
    ASSERT_TRUE(null) << "a null member is present";
    EXPECT_FALSE(null->as_bool() || null->as_int() || null->as_double() || null->as_string() ||
                 null->as_object() || null->as_array());
}

TEST(ConfigParserTest, TreeOfObjectsAndArrays)
{
    const auto doc = parse(R"({"b": 1, "a": {"z": "deep", "y": {}},
         "list": [{"k": 7}, [1, [2]], null], "empty": []})");
    EXPECT_EQ(doc->get_root().get_keys(), (std::vector<std::string>{"a", "b", "empty", "list"}));
    EXPECT_EQ(doc->get<const dictionary&>("a")->get<std::string>("z"), std::string("deep"));
    EXPECT_TRUE(boost::empty(*doc->get_root().get<value::array>("empty")));

    // Values inside arrays refer to dictionaries and vectors that must not
    // have moved while the document was built.
    const auto items = elements(*doc->get_root().get<value::array>("list"));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->get<const dictionary&>()->get<int>("k"), 7);
    const auto inner = elements(*items[1]->as_array());
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(inner[0]->as_int(), 1);
    EXPECT_EQ(elements(*inner[1]->as_array()).at(0)->as_int(), 2);
    EXPECT_FALSE(items[2]->as_int());
}

TEST(ConfigParserTest, ParseFailures)
{
    const std::string prefix = "Cannot parse json: ";
    for (const std::string text : {"", "{", "{\"a\": }", "{'a': 1}"}) {
        try {
            parse(text);
            ADD_FAILURE() << "parsed '" << text << "'";
        } catch (const std::runtime_error& e) {
            const std::string error = e.what();
            EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
            EXPECT_GT(error.size(), prefix.size()) << "the parser's own text follows";
        }
    }
    // What a lenient reader would accept and read differently from what the
    // author meant; the error names the line and column.
    for (const std::string text :
         {"{\"a\": 1,}", "{\"a\": [1, 2,]}", "// note\n{\"a\": 1}", "{\"a\": 1 /* note */}", "{\"a\": 1} x",
          "{\"a\": 1}\n{\"b\": 2}", "{\"a\": 1, \"a\": 2}", "{\"o\": {\"k\": 1, \"k\": 1}}"}) {
        try {
            parse(text);
            ADD_FAILURE() << "parsed '" << text << "'";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("Line "), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(parse("{\"a\": 1}\n\n")->get<int>("a"), 1) << "trailing white space is fine";
    std::ifstream unopened("/nonexistent/directory/config.json");
    EXPECT_THROW(config::create<type::json>(unopened), std::runtime_error);
    EXPECT_THROW(parse("["), boost::exception) << "raised through boost::throw_exception";
}

TEST(ConfigParserTest, PathLookupTexts)
{
    const auto doc = parse(R"({"dw": {"host": "h", "port": "12", "n": {"m": 3}}, "five": 5, "debug": 1,
                              "a": {"c": {}}})");
    // Two-level paths and their texts are covered through the configuration.
    EXPECT_EQ(doc->get_by_path<int>({"dw", "n", "m"}).value(), 3);
    EXPECT_EQ(doc->get_by_path<int>({"five"}).value(), 5);
    EXPECT_EQ(doc->get_by_path<bool>({"debug"}).reason(), "Can not find field <bool>: debug");
    EXPECT_EQ(doc->get_by_path<std::string>({"five", "host"}).reason(),
              "Can not find object <object>: five, path: five.host")
        << "a member that is no object reads as a missing object";
    EXPECT_EQ(doc->get_by_path<int>({"a", "b", "c"}).reason(),
              "Can not find object <object>: a.b, path: a.b.c");
    EXPECT_EQ(doc->get_by_path<int>({"a", "c", "d", "e"}).reason(),
              "Can not find object <object>: a.c.d, path: a.c.d.e");
}
