#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "net/Protocol.h"

namespace {

// Expected records are written field by field into a zeroed buffer.
struct SExpect {
    Bytes bytes;
    explicit SExpect(size_t n) : bytes(n, 0) {}
    SExpect& At(size_t offset, const std::string& text) {
        std::memcpy(bytes.data() + offset, text.data(), text.size());
        return *this;
    }
    SExpect& Byte(size_t offset, uint8_t v) {
        bytes[offset] = v;
        return *this;
    }
    SExpect& LE32(size_t offset, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
        return *this;
    }
};

TEST(Protocol, LoginIsExactly100BytesAndCutsThePassword) {
    const Bytes login = BuildLogin("12345", "secret", "127.0.0.1", kClientVersion, 0);
    const Bytes expected =
        SExpect(100).Byte(0, 1).At(1, "12345").At(17, "secret").At(68, "127.0.0.1").At(85, "0200003").bytes;
    EXPECT_EQ(expected, login);

    const std::string pw60(60, 'p');
    const Bytes cut = BuildLogin("12345", pw60, "127.0.0.1", kClientVersion, 0x01020304);
    EXPECT_EQ(SExpect(100)
                  .Byte(0, 1)
                  .At(1, "12345")
                  .At(17, std::string(50, 'p'))
                  .At(68, "127.0.0.1")
                  .At(85, "0200003")
                  .LE32(96, 0x01020304)
                  .bytes,
              cut);

    SLogin parsed;
    ASSERT_TRUE(ParseLogin(cut.data(), cut.size(), parsed));
    EXPECT_EQ("12345", parsed.ntv);
    EXPECT_EQ(std::string(50, 'p'), parsed.password);
    EXPECT_EQ("0200003", parsed.version);
    EXPECT_EQ(0x01020304u, parsed.value);
    // Over-long fields stay inside their own field.
    const Bytes full = BuildLogin(std::string(40, '1'), "", std::string(40, '9'), std::string(40, 'v'), 0);
    ASSERT_TRUE(ParseLogin(full.data(), full.size(), parsed));
    EXPECT_EQ(std::string(15, '1'), parsed.ntv);
    EXPECT_EQ(std::string(16, '9'), parsed.localAddress);
    EXPECT_EQ(std::string(10, 'v'), parsed.version);
}

TEST(Protocol, SmallRecords) {
    EXPECT_EQ((Bytes{8, 0}), BuildShortRecord(MSG_PING));
    EXPECT_EQ((Bytes{16, 0}), BuildShortRecord(MSG_HANGUP));
    EXPECT_EQ((Bytes{19, 0}), BuildShortRecord(MSG_CALL_CONNECTED));
    EXPECT_EQ((Bytes{37, 0}), BuildShortRecord(MSG_CONTACTS));
    EXPECT_EQ((Bytes{46, 0}), BuildShortRecord(MSG_CALL_END));
    EXPECT_EQ((Bytes{50, 0}), BuildShortRecord(MSG_VIDEO_STOP));
    EXPECT_EQ((Bytes{51, 0}), BuildShortRecord(MSG_VIDEO_KEYFRAME));
    EXPECT_EQ((Bytes{48, 'A'}), BuildSetStatus('A'));
    EXPECT_EQ((Bytes{4, 8}), BuildLoginError(kLoginErrorAlreadyConnected));
    EXPECT_EQ((Bytes{10, 0, 0, 0, 0}), BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    const Bytes accept = BuildCallIdRecord(MSG_CALL_ACCEPT, 0x01020304);
    EXPECT_EQ((Bytes{13, 4, 3, 2, 1}), accept);
    uint32_t id = 0;
    ASSERT_TRUE(ParseCallIdRecord(accept.data(), accept.size(), id));
    EXPECT_EQ(0x01020304u, id);
}

TEST(Protocol, CallSetupLayoutAndBusyRefusalEcho) {
    const std::string longName(300, 'n');
    const Bytes setup = BuildCallSetup(0xA1B2C3D4, "111", longName, "222");
    EXPECT_EQ(SExpect(328)
                  .Byte(0, 17)
                  .LE32(1, 0xA1B2C3D4)
                  .At(22, "111")
                  .At(38, std::string(255, 'n'))
                  .At(311, "222")
                  .bytes,
              setup);

    // A received record with junk in the "zero" areas is echoed as it came.
    Bytes received = setup;
    received[7] = 0x55;
    received[300] = 0x66;
    Bytes refused;
    ASSERT_TRUE(BuildCallRefused(received.data(), received.size(), kRefusedBusy, refused));
    ASSERT_EQ(328u, refused.size());
    for (size_t i = 0; i < refused.size(); ++i) {
        if (i == 0) {
            EXPECT_EQ(18, refused[i]);
        } else if (i == 327) {
            EXPECT_EQ(17, refused[i]);
        } else {
            EXPECT_EQ(received[i], refused[i]) << "byte " << i;
        }
    }
    EXPECT_FALSE(BuildCallRefused(received.data(), 327, kRefusedBusy, refused));

    SCallSetup parsed;
    ASSERT_TRUE(ParseCallSetup(refused.data(), refused.size(), parsed));
    EXPECT_EQ(0xA1B2C3D4u, parsed.callId);
    EXPECT_EQ("111", parsed.callerNtv);
    EXPECT_EQ(std::string(255, 'n'), parsed.callerName);
    EXPECT_EQ("222", parsed.calledNtv);
    EXPECT_EQ(17, parsed.reason);
}

TEST(Protocol, ContactRecords) {
    EXPECT_EQ(SExpect(273).Byte(0, 33).At(1, "555").At(17, "Ana").bytes,
              BuildContactRecord(MSG_CONTACT_ADD, "555", "Ana"));
    EXPECT_EQ(SExpect(273).Byte(0, 34).At(1, "555").bytes, BuildContactRemove("555"));
    EXPECT_EQ(SExpect(276).Byte(0, 35).At(1, "555").bytes, BuildContactStatusQuery("555"));
    const Bytes status = BuildContactStatus("555", 'A');
    EXPECT_EQ(SExpect(276).Byte(0, 35).At(1, "555").Byte(273, 'A').bytes, status);

    SContactStatus cs;
    ASSERT_TRUE(ParseContactStatus(status.data(), status.size(), cs));
    EXPECT_EQ("555", cs.ntv);
    EXPECT_EQ('A', cs.status);
    SContact c;
    const Bytes stored = BuildContactRecord(MSG_CONTACTS, "777", "Bo");
    ASSERT_TRUE(ParseContactRecord(stored.data(), stored.size(), c));
    EXPECT_EQ("777", c.ntv);
    EXPECT_EQ("Bo", c.name);
    std::string ntv;
    ASSERT_TRUE(ParseContactNtv(status.data(), status.size(), ntv));
    EXPECT_EQ("555", ntv);
}

TEST(Protocol, UserInfoFieldsEndAtTheirBounds) {
    const Bytes info = BuildUserInfo("dir/x", "http://help", "Ana Pérez");
    EXPECT_EQ(SExpect(659).Byte(0, 9).At(1, "dir/x").At(202, "http://help").At(403, "Ana Pérez").bytes, info);
    SUserInfo u;
    ASSERT_TRUE(ParseUserInfo(info.data(), info.size(), u));
    EXPECT_EQ("dir/x", u.directoryAddress);
    EXPECT_EQ("http://help", u.helpAddress);
    EXPECT_EQ("Ana Pérez", u.displayName);

    // No terminators anywhere: each text stops at its field, the name at the record's end.
    Bytes noNul(404, 'x');
    noNul[0] = 9;
    ASSERT_TRUE(ParseUserInfo(noNul.data(), noNul.size(), u));
    EXPECT_EQ(std::string(201, 'x'), u.directoryAddress);
    EXPECT_EQ(std::string(201, 'x'), u.helpAddress);
    EXPECT_EQ("x", u.displayName);
}

TEST(Protocol, UserInfoAddressesBecomeAbsolute) {
    EXPECT_EQ("http://vp.example.org/dir?x=1", AbsoluteUserInfoAddress("/dir?x=1", "vp.example.org"));
    EXPECT_EQ("http://vp.example.orgdir",
              AbsoluteUserInfoAddress("dir", "vp.example.org"));  // no separator added
    EXPECT_EQ("HTTPS://a/b", AbsoluteUserInfoAddress("HTTPS://a/b", "h"));
    EXPECT_EQ("hTtP://a", AbsoluteUserInfoAddress("hTtP://a", "h"));
    EXPECT_EQ("http://hhtt", AbsoluteUserInfoAddress("htt", "h"));
    EXPECT_EQ("http://h", AbsoluteUserInfoAddress("", "h"));
}

TEST(Protocol, VideoFormatIsTheBitmapHeaderLittleEndian) {
    SBitmapInfoHeader h;
    h.biWidth = 320;
    h.biHeight = 240;
    h.biBitCount = 12;
    h.biCompression = 0x30323449;  // "I420"
    h.biSizeImage = 115200;
    const Bytes rec = BuildVideoFormat(h);
    const Bytes expected = SExpect(41)
                               .Byte(0, 49)
                               .LE32(1, 40)
                               .LE32(5, 320)
                               .LE32(9, 240)
                               .Byte(13, 1)
                               .Byte(15, 12)
                               .LE32(17, 0x30323449)
                               .LE32(21, 115200)
                               .bytes;
    EXPECT_EQ(expected, rec);
    SBitmapInfoHeader back;
    ASSERT_TRUE(ParseVideoFormat(rec.data(), rec.size(), back));
    EXPECT_EQ(h, back);
}

TEST(Protocol, TextLine) {
    EXPECT_EQ((Bytes{0, 0, 0, 2, 'h', 'i', 0}), BuildText("hi"));
    std::string text;
    const Bytes hi = BuildText("hi");
    ASSERT_TRUE(ParseText(hi.data(), hi.size(), text));
    EXPECT_EQ("hi", text);
    // A stated length beyond the record, or a missing terminator, never reads past the end.
    const Bytes lying{0, 0, 1, 0, 'a', 'b'};
    ASSERT_TRUE(ParseText(lying.data(), lying.size(), text));
    EXPECT_EQ("ab", text);
    const Bytes stops{0, 0, 0, 5, 'a', 0, 'b'};
    ASSERT_TRUE(ParseText(stops.data(), stops.size(), text));
    EXPECT_EQ("a", text);
    EXPECT_FALSE(ParseText(lying.data(), 3, text));
}

TEST(Protocol, AudioMessageOf172Bytes) {
    Bytes encoded(160);
    for (size_t i = 0; i < encoded.size(); ++i)
        encoded[i] = static_cast<uint8_t>(i);
    const Bytes msg = BuildAudio(7, encoded.data(), 160, 1600);
    ASSERT_EQ(172u, msg.size());
    EXPECT_EQ((Bytes{7, 0, 0, 0, 160, 0, 0, 0, 0x40, 0x06, 0, 0}), Bytes(msg.begin(), msg.begin() + 12));
    EXPECT_EQ(encoded, Bytes(msg.begin() + 12, msg.end()));
    SAudioFrame f;
    ASSERT_TRUE(ParseAudio(msg.data(), msg.size(), f));
    EXPECT_EQ(7u, f.counter);
    EXPECT_EQ(160u, f.encodedLength);
    EXPECT_EQ(1600u, f.rawLength);
    EXPECT_EQ(msg.data() + 12, f.encoded);
    EXPECT_FALSE(f.truncated);
    // A record that states more than it carries keeps its header and is cut to what it holds.
    ASSERT_TRUE(ParseAudio(msg.data(), msg.size() - 1, f));
    EXPECT_TRUE(f.truncated);
    EXPECT_EQ(159u, f.encodedLength);
    EXPECT_EQ(1600u, f.rawLength);
    Bytes lying = msg;
    lying[7] = 0x80;  // a stated length with the top bit set
    ASSERT_TRUE(ParseAudio(lying.data(), lying.size(), f));
    EXPECT_EQ(160u, f.encodedLength);
    EXPECT_FALSE(ParseAudio(msg.data(), 11, f));
}

TEST(Protocol, VideoMessage) {
    const uint8_t pic[3] = {9, 8, 7};
    const Bytes msg = BuildVideo(pic, 3, 115200, true);
    EXPECT_EQ((Bytes{3, 0, 0, 0, 0x00, 0xC2, 0x01, 0, 1, 9, 8, 7}), msg);
    SVideoFrame f;
    ASSERT_TRUE(ParseVideo(msg.data(), msg.size(), f));
    EXPECT_TRUE(f.keyFrame);
    EXPECT_EQ(115200u, f.decodedSize);
    EXPECT_EQ(3u, f.encodedLength);
    EXPECT_FALSE(ParseVideo(msg.data(), msg.size() - 1, f));
}

// Every parser refuses a record one byte shorter than the fields it reads, and never reads past it
// (the buffers are exact-size heap copies, so a sanitizer build catches any overread).
TEST(Protocol, ShortRecordsAreRefused) {
    struct SCase {
        const char* name;
        size_t minSize;
        std::function<bool(const uint8_t*, size_t)> parse;
    };
    SLogin l;
    SCallSetup cs;
    SContact c;
    SContactStatus st;
    SUserInfo ui;
    SBitmapInfoHeader bh;
    SAudioFrame af;
    SVideoFrame vf;
    std::string s;
    uint32_t u = 0;
    uint8_t b = 0;
    char ch = 0;
    const SCase cases[] = {
        {"login", 100, [&](const uint8_t* d, size_t n) { return ParseLogin(d, n, l); }},
        {"call id", 5, [&](const uint8_t* d, size_t n) { return ParseCallIdRecord(d, n, u); }},
        {"setup", 328, [&](const uint8_t* d, size_t n) { return ParseCallSetup(d, n, cs); }},
        {"contact", 273, [&](const uint8_t* d, size_t n) { return ParseContactRecord(d, n, c); }},
        {"contact status", 274, [&](const uint8_t* d, size_t n) { return ParseContactStatus(d, n, st); }},
        {"contact ntv", 17, [&](const uint8_t* d, size_t n) { return ParseContactNtv(d, n, s); }},
        {"user info", 404, [&](const uint8_t* d, size_t n) { return ParseUserInfo(d, n, ui); }},
        {"video format", 41, [&](const uint8_t* d, size_t n) { return ParseVideoFormat(d, n, bh); }},
        {"login error", 2, [&](const uint8_t* d, size_t n) { return ParseLoginError(d, n, b); }},
        {"set status", 2, [&](const uint8_t* d, size_t n) { return ParseSetStatus(d, n, ch); }},
        {"text", 4, [&](const uint8_t* d, size_t n) { return ParseText(d, n, s); }},
        {"audio", 12, [&](const uint8_t* d, size_t n) { return ParseAudio(d, n, af); }},
        {"video", 9, [&](const uint8_t* d, size_t n) { return ParseVideo(d, n, vf); }},
    };
    for (const auto& k : cases) {
        Bytes rec(k.minSize, 0);
        if (std::string(k.name) == "login")
            rec[0] = MSG_LOGIN;  // the login parser also checks its code
        auto exact = std::make_unique<uint8_t[]>(k.minSize);
        std::memcpy(exact.get(), rec.data(), k.minSize);
        EXPECT_TRUE(k.parse(exact.get(), k.minSize)) << k.name;
        auto shorter = std::make_unique<uint8_t[]>(k.minSize - 1);
        std::memcpy(shorter.get(), rec.data(), k.minSize - 1);
        EXPECT_FALSE(k.parse(shorter.get(), k.minSize - 1)) << k.name;
        EXPECT_FALSE(k.parse(nullptr, 0)) << k.name;
    }
}

}  // namespace
