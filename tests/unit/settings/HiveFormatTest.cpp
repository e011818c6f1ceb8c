// The text form of the hive: what a person may write, what the client writes back, and what is refused.
#include <gtest/gtest.h>

#include "platform/HiveFormat.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
    std::vector<uint8_t> v;
    for (int x : b)
        v.push_back(static_cast<uint8_t>(x));
    return v;
}

std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

TEST(HiveFormat, ReadsEveryTypeAPersonMayWrite) {
    const char* text =
        "\xEF\xBB\xBF; seeded by a script\r\n"
        "# another comment\n"
        "[ Software\\Velaphon\\Settings ]\n"  // blanks inside the brackets belong to the name
        "[Software\\\\Velaphon\\Settings\\]\n"
        "  \"UserNtv\" = text:\"5550001\"\n"
        "\"Silence volume\"=dword:50\n"
        "\"CornerPosition\"=dword:-1\n"
        "\"Mask\"=dword:0xFFFFFFFF\n"
        "\"Port\"=binary:bb, 01,00 ,00\n"
        "\"Empty\"=binary:\n"
        "\"Path\"=expand:\"%HOME%\\\\x\"\n"
        "\"Odd\"=hex(7):61,00,00\n"
        "\"Esc\"=text:\"a\\\"b\\n\\t\\x01\\\\\"\n";
    CHiveData d;
    std::string error;
    ASSERT_TRUE(ParseHive(text, d, &error)) << error;
    ASSERT_EQ(2u, d.m_keys.size());
    EXPECT_EQ(" Software\\Velaphon\\Settings ", d.m_keys[0].m_strPath);
    const SHiveKey* k = d.FindKey("software\\VELAPHON\\settings");
    ASSERT_NE(nullptr, k);
    auto value = [&](const char* name) { return CHiveData::FindValue(*k, name); };
    EXPECT_EQ(REG_SZ, value("usERntv")->m_nType);
    EXPECT_EQ(Text("5550001"), value("UserNtv")->m_data);
    EXPECT_EQ(REG_DWORD, value("Silence volume")->m_nType);
    EXPECT_EQ(Bytes({50, 0, 0, 0}), value("Silence volume")->m_data);
    EXPECT_EQ(Bytes({0xff, 0xff, 0xff, 0xff}), value("CornerPosition")->m_data);
    EXPECT_EQ(Bytes({0xff, 0xff, 0xff, 0xff}), value("Mask")->m_data);
    EXPECT_EQ(REG_BINARY, value("Port")->m_nType);
    EXPECT_EQ(Bytes({0xbb, 1, 0, 0}), value("Port")->m_data);
    EXPECT_TRUE(value("Empty")->m_data.empty());
    EXPECT_EQ(REG_EXPAND_SZ, value("Path")->m_nType);
    EXPECT_EQ(7u, value("Odd")->m_nType);
    EXPECT_EQ(Text("a\"b\n\t\x01\\"), value("Esc")->m_data);
}

TEST(HiveFormat, WhatIsWrittenReadsBackTheSame) {
    CHiveData d;
    d.CreateKey("Software\\Velaphon\\Settings\\Accounts");
    SHiveKey& s = d.CreateKey("Software\\Velaphon\\Settings");
    CHiveData::SetValue(s, {"UserNtv", REG_SZ, Text("5550001")});
    CHiveData::SetValue(s, {"Name \"quoted\"\\", REG_SZ, Text("tab\there\nnewline \x7f ñ")});
    CHiveData::SetValue(s, {"Port", REG_BINARY, Bytes({0xbb, 1, 0, 0})});
    CHiveData::SetValue(s, {"Big", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff})});
    CHiveData::SetValue(s, {"NoZero", REG_SZ, Bytes({'a', 'b'})});     // a text without its zero
    CHiveData::SetValue(s, {"ShortDword", REG_DWORD, Bytes({1, 2})});  // not 4 bytes
    CHiveData::SetValue(s, {"Inner", REG_SZ, Text(std::string("a\0b", 3))});
    CHiveData::SetValue(s, {"", REG_BINARY, {}});

    std::string text = SerializeHive(d);
    CHiveData back;
    std::string error;
    ASSERT_TRUE(ParseHive(text, back, &error)) << error << "\n" << text;
    EXPECT_EQ(SerializeHive(back), text);
    EXPECT_TRUE(back.KeyExists("Software\\Velaphon\\Settings\\Accounts"));
    const SHiveKey* k = back.FindKey("Software\\Velaphon\\Settings");
    ASSERT_NE(nullptr, k);
    ASSERT_EQ(s.m_values.size(), k->m_values.size());
    for (size_t i = 0; i < s.m_values.size(); ++i) {
        EXPECT_EQ(s.m_values[i].m_strName, k->m_values[i].m_strName);
        EXPECT_EQ(s.m_values[i].m_nType, k->m_values[i].m_nType);
        EXPECT_EQ(s.m_values[i].m_data, k->m_values[i].m_data);
    }
}

TEST(HiveFormat, ParentsExistThroughTheirChildrenAndAreNotWrittenEmpty) {
    CHiveData d;
    d.CreateKey("Software\\Velaphon");
    d.CreateKey("Software\\Velaphon\\Settings\\Accounts");
    EXPECT_TRUE(d.KeyExists("software"));
    EXPECT_TRUE(d.KeyExists("Software\\Velaphon\\Settings"));
    EXPECT_TRUE(d.KeyExists(""));
    EXPECT_FALSE(d.KeyExists("Software\\Vela"));  // a prefix of a name is not a parent
    std::string text = SerializeHive(d);
    EXPECT_EQ(std::string::npos, text.find("[Software\\Velaphon]\n"));
    EXPECT_NE(std::string::npos, text.find("[Software\\Velaphon\\Settings\\Accounts]\n"));
}

TEST(HiveFormat, LaterDuplicatesReplaceEarlierOnes) {
    CHiveData d;
    ASSERT_TRUE(ParseHive("[K]\n\"a\"=dword:1\n[k]\n\"A\"=dword:2\n", d));
    ASSERT_EQ(1u, d.m_keys.size());
    ASSERT_EQ(1u, d.m_keys[0].m_values.size());
    EXPECT_EQ("a", d.m_keys[0].m_values[0].m_strName);  // the first spelling stays
    EXPECT_EQ(2, d.m_keys[0].m_values[0].m_data[0]);
}

TEST(HiveFormat, RejectsTheWholeFileForAnyBrokenLine) {
    const char* broken[] = {
        "\"a\"=dword:1\n",                  // value before any key
        "[K\n",                             // unclosed key
        "[K]\nplain text\n",                // not a value line
        "[K]\n\"a\"dword:1\n",              // no '='
        "[K]\n\"a\"=1\n",                   // no type
        "[K]\n\"a\"=float:1\n",             // unknown type
        "[K]\n\"a\"=text:abc\n",            // unquoted text
        "[K]\n\"a\"=text:\"abc\n",          // unclosed text
        "[K]\n\"a\"=text:\"abc\" x\n",      // trailing junk
        "[K]\n\"a\"=text:\"\\q\"\n",        // unknown escape
        "[K]\n\"a\"=text:\"\\x4\"\n",       // short hex escape
        "[K]\n\"a\"=text:\"tab\there\"\n",  // raw control character
        "[K]\n\"a\"=binary:1\n",            // odd hex
        "[K]\n\"a\"=binary:01,,02\n",       // empty byte
        "[K]\n\"a\"=binary:0g\n",           // not hex
        "[K]\n\"a\"=dword:4294967296\n",    // above 32 bits
        "[K]\n\"a\"=dword:-2147483649\n",   // below 32 bits
        "[K]\n\"a\"=dword:\n",              // no number
        "[K]\n\"a\"=hex(-1):00\n",          // bad type number
        "[K]\n\"a\"=hex():00\n",
        "[K]\n\"a=dword:1\n",  // unclosed name
        "[K\x01]\n",           // control character in a key
    };
    for (const char* text : broken) {
        CHiveData d;
        d.CreateKey("left over");
        std::string error;
        EXPECT_FALSE(ParseHive(text, d, &error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(d.m_keys.empty()) << text;
    }
}

TEST(HiveFormat, NumbersAtTheirLimits) {
    CHiveData d;
    ASSERT_TRUE(
        ParseHive("[K]\n\"a\"=dword:4294967295\n\"b\"=dword:-2147483648\n\"c\"=hex(4294967295):\n", d));
    EXPECT_EQ(Bytes({0xff, 0xff, 0xff, 0xff}), d.m_keys[0].m_values[0].m_data);
    EXPECT_EQ(Bytes({0, 0, 0, 0x80}), d.m_keys[0].m_values[1].m_data);
    EXPECT_EQ(0xffffffffu, d.m_keys[0].m_values[2].m_nType);
}

}  // namespace
