#include <gtest/gtest.h>

#include <regex>

#include "server/DirectoryPages.h"

namespace {

CUserProfile Profile(std::string ntv, std::string name, std::string country, std::string city,
                     std::string gender, std::string language, std::string keywords) {
    return CUserProfile{ntv, name, country, city, gender, language, keywords};
}

TEST(DirectoryPages, SearchRules) {
    CUserProfile ana = Profile("1001", "Ana Gil", "ES", "San Sebasti\xC3\xA1n", "F", "ES", "jazz cycling");
    EXPECT_TRUE(MatchesDirectoryQuery(ana, {}));
    EXPECT_TRUE(MatchesDirectoryQuery(ana, {"es", "", "", "", ""}));
    EXPECT_FALSE(MatchesDirectoryQuery(ana, {"UK", "", "", "", ""}));
    EXPECT_TRUE(MatchesDirectoryQuery(ana, {"", "san seb", "", "", ""}));  // part of the city, any case
    EXPECT_FALSE(MatchesDirectoryQuery(ana, {"", "Madrid", "", "", ""}));
    EXPECT_TRUE(MatchesDirectoryQuery(ana, {"", "", "F", "ES", ""}));
    EXPECT_FALSE(MatchesDirectoryQuery(ana, {"", "", "M", "", ""}));
    EXPECT_FALSE(MatchesDirectoryQuery(ana, {"", "", "", "EN", ""}));
    // Every keyword must occur, in the keywords or the name.
    EXPECT_TRUE(MatchesDirectoryQuery(ana, {"", "", "", "", "JAZZ gil"}));
    EXPECT_FALSE(MatchesDirectoryQuery(ana, {"", "", "", "", "jazz opera"}));
    // A field of blanks restricts nothing (the client sends every field, filled or not).
    EXPECT_TRUE(MatchesDirectoryQuery(ana, {" ", "  ", "", "", "  "}));
    // A profile without a country matches only searches without one.
    CUserProfile bare = Profile("2", "", "", "", "", "", "");
    EXPECT_TRUE(MatchesDirectoryQuery(bare, {"", "", "", "", ""}));
    EXPECT_FALSE(MatchesDirectoryQuery(bare, {"ES", "", "", "", ""}));
}

TEST(DirectoryPages, RowsLinkByNtvAndEscapeNames) {
    std::vector<CDirectoryEntry> entries = {
        {Profile("1001", "Ana <b>&</b>", "ES", "Madrid", "F", "ES", ""), 'C'},
        {Profile("2002", "", "UK", "", "", "EN", ""), 'D'},
    };
    std::string page = BuildDirectoryPage(entries, 2, {}, "", EPageLanguage::English);
    // Every call link's address ends with callto=NTV, every add link's with addntv=NTV.
    std::regex callLink("href=\"([^\"]*)\"");
    std::vector<std::string> hrefs;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), callLink); it != std::sregex_iterator();
         ++it) {
        hrefs.push_back((*it)[1]);
    }
    EXPECT_NE(std::find(hrefs.begin(), hrefs.end(), "/directory?callto=1001"), hrefs.end());
    EXPECT_NE(std::find(hrefs.begin(), hrefs.end(), "/directory?addntv=1001"), hrefs.end());
    EXPECT_NE(std::find(hrefs.begin(), hrefs.end(), "/directory?callto=2002"), hrefs.end());
    EXPECT_NE(std::find(hrefs.begin(), hrefs.end(), "/directory?addntv=2002"), hrefs.end());
    EXPECT_NE(page.find("Ana &lt;b&gt;&amp;&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(page.find("<b>&</b>"), std::string::npos);
    EXPECT_NE(page.find("Connected"), std::string::npos);
    EXPECT_NE(page.find("Disconnected"), std::string::npos);
    // The name falls back to the NTV.
    EXPECT_NE(page.find("<tr><td>2002</td>"), std::string::npos);

    std::string es = BuildDirectoryPage(entries, 250, {}, LinkNotice(true, "1001", EPageLanguage::Spanish),
                                        EPageLanguage::Spanish);
    EXPECT_NE(es.find("Conectado"), std::string::npos);
    EXPECT_NE(es.find("llamar a 1001"), std::string::npos);
    EXPECT_NE(es.find("2 de 250"), std::string::npos);
    EXPECT_NE(BuildDirectoryPage({}, 0, {}, "", EPageLanguage::English).find("No user matches"),
              std::string::npos);
}

TEST(DirectoryPages, SearchFieldsAreEchoedSafely) {
    CDirectoryQuery q{"ES", "\"><script>", "F", "EN", "a&b"};
    std::string page = BuildDirectoryPage({}, 0, q, "", EPageLanguage::English);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);
    EXPECT_NE(page.find("<option value=\"F\" selected>"), std::string::npos);
    EXPECT_NE(page.find("<option value=\"EN\" selected>"), std::string::npos);
}

TEST(DirectoryPages, LanguageFromTheBrowser) {
    EXPECT_EQ(PageLanguageFor("es-ES,es;q=0.9,en;q=0.8"), EPageLanguage::Spanish);
    EXPECT_EQ(PageLanguageFor("ES"), EPageLanguage::Spanish);
    EXPECT_EQ(PageLanguageFor("en-US,es;q=0.5"), EPageLanguage::English);
    EXPECT_EQ(PageLanguageFor(""), EPageLanguage::English);
    EXPECT_EQ(PageLanguageFor("fr"), EPageLanguage::English);
    EXPECT_NE(BuildHelpPage(EPageLanguage::Spanish).find("Ayuda"), std::string::npos);
    EXPECT_NE(BuildHelpPage(EPageLanguage::English).find("help"), std::string::npos);
}

}  // namespace
