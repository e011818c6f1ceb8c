#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/CountryTable.h"
#include "app/DirectoryLink.h"
#include "app/DirectoryQuery.h"

TEST(CountryTable, HoldsTheDirectorysCodesInOrderUnderTheirSpanishNames) {
    const char* codes =
        "AF AL DE AD AO AI AQ AG AN SA DZ AR AM AW AU AT AZ BS BH BD BB BE BZ BJ BM BT BY MM BO BA BW BR BN "
        "BG BF BI CV KH CM CA TD CL CN CY VA CO KM CG KP KR CI CR HR CU DK DJ DM EC EG SV AE ER SK SI ES US "
        "EE ET PH FI FR GA GM GE GS GH GI GD GR GL GP GU GT GF GY GN GQ GW HT NL HN HK HU IN ID IQ IR IE BV "
        "CX HM IS KY CK CC FO FJ FK MP MH PW SB TK TC VI VG IL IT JM JP JO KZ KE KG KI KW LA LS LV LB LR LY "
        "LI LT LU MO MK MG MY MW MV ML MT MA MQ MU MR YT MX FM MD MC MN MS MZ NA NR NP NI NE NG NU NF NO NC "
        "NZ OM PA PG PK PY PE PN PF PL PT PR QA CD UK CF CZ ZA DO RE RW RO RU WS AS KN SM PM VC SH LC ST SN "
        "YU SC SL SG SY SO LK SZ SD SE CH SR SJ TH TW TZ TJ TP TG TO TT TN TM TR TV UA UG UY UZ VU VE VN WF "
        "YE ZM ZW";
    const auto& table = CountryTable();
    ASSERT_EQ(table.size(), 234u);
    std::string joined;
    std::set<std::string> seen;
    for (const SCountry& c : table) {
        joined += std::string(joined.empty() ? "" : " ") + c.m_szCode;
        EXPECT_TRUE(seen.insert(c.m_szCode).second) << c.m_szCode;
        EXPECT_NE(std::string(c.m_szName), "");
        for (const char* p = c.m_szName; *p != '\0'; ++p)
            EXPECT_FALSE(*p >= 'a' && *p <= 'z') << c.m_szName;
    }
    EXPECT_EQ(joined, codes);

    struct SRow {
        size_t row;
        const char* name;
        const char* code;
    };
    for (const SRow& r :
         {SRow{1, "AFGANISTÁN", "AF"}, SRow{3, "ALEMANIA", "DE"}, SRow{65, "ESPAÑA", "ES"},
          SRow{66, "ESTADOS UNIDOS", "US"}, SRow{116, "ISLAS VÍRGENES (REINO UNIDO)", "VG"},
          SRow{180, "REINO UNIDO", "UK"}, SRow{216, "TIMOR ORIENTAL", "TP"}, SRow{234, "ZIMBABUE", "ZW"}}) {
        EXPECT_STREQ(table[r.row - 1].m_szName, r.name) << r.row;
        EXPECT_STREQ(table[r.row - 1].m_szCode, r.code) << r.row;
    }
}

TEST(DirectoryQuery, FillsEachParameterFromItsField) {
    EXPECT_EQ(BuildDirectoryQuery({}), "?soft=1&Pais=&Ciudad=&Sexo=&Idioma=&Pal_Clave=");

    SDirectorySearch s;
    s.m_nCountry = 65;
    s.m_strCity = "San José & Co";  // typed text goes in unchanged, spaces and "&" included
    s.m_nGender = 2;
    s.m_nLanguage = 2;
    s.m_strKeywords = "cine musica";
    EXPECT_EQ(BuildDirectoryQuery(s),
              "?soft=1&Pais=ES&Ciudad=San José & Co&Sexo=F&Idioma=EN&Pal_Clave=cine musica");

    s = {};
    s.m_nCountry = 180;
    s.m_nGender = 1;
    s.m_nLanguage = 1;
    EXPECT_EQ(BuildDirectoryQuery(s), "?soft=1&Pais=UK&Ciudad=&Sexo=M&Idioma=ES&Pal_Clave=");

    // Items that no box holds count as "any".
    s = {};
    s.m_nCountry = 235;
    s.m_nGender = 3;
    s.m_nLanguage = -1;
    EXPECT_EQ(BuildDirectoryQuery(s), BuildDirectoryQuery({}));
    s.m_nCountry = -1;
    EXPECT_EQ(BuildDirectoryQuery(s), BuildDirectoryQuery({}));
}

namespace {

const std::string kDir = "http://127.0.0.210:4000/directory";

SDirectoryLink Classify(const std::string& url) {
    return ClassifyDirectoryLink(url, kDir);
}

}  // namespace

TEST(DirectoryLink, CallLinksTakeEverythingAfterTheMark) {
    SDirectoryLink l = Classify(kDir + "?callto=5550001");
    EXPECT_EQ(l.m_eAction, EDirectoryLink::Call);
    EXPECT_EQ(l.m_strNtv, "5550001");
    // Empty: still a call link (the dialog closes and calls no one).
    l = Classify(kDir + "?callto=");
    EXPECT_EQ(l.m_eAction, EDirectoryLink::Call);
    EXPECT_EQ(l.m_strNtv, "");
    // A call link wins over an add link, and holds on any site.
    l = Classify("http://elsewhere.example/?addntv=1&callto=77");
    EXPECT_EQ(l.m_eAction, EDirectoryLink::Call);
    EXPECT_EQ(l.m_strNtv, "77");
    // At the very start the mark is no link; a later one is.
    EXPECT_EQ(Classify("callto=123").m_eAction, EDirectoryLink::Refuse);
    l = Classify("callto=1callto=2");
    EXPECT_EQ(l.m_eAction, EDirectoryLink::Call);
    EXPECT_EQ(l.m_strNtv, "2");
}

TEST(DirectoryLink, AddLinksOfferTwelveCharactersAtMost) {
    SDirectoryLink l = Classify(kDir + "?addntv=123456789012345");
    EXPECT_EQ(l.m_eAction, EDirectoryLink::AddContact);
    EXPECT_EQ(l.m_strNtv, "123456789012");
    l = Classify(kDir + "?addntv=1001");
    EXPECT_EQ(l.m_eAction, EDirectoryLink::AddContact);
    EXPECT_EQ(l.m_strNtv, "1001");
    EXPECT_EQ(Classify("addntv=1001").m_eAction, EDirectoryLink::Refuse);
}

TEST(DirectoryLink, OnlyTheDirectorysOwnAddressesAreBrowsedInPlace) {
    EXPECT_EQ(Classify(kDir).m_eAction, EDirectoryLink::Follow);
    EXPECT_EQ(Classify(kDir + "?soft=1&Pais=ES").m_eAction, EDirectoryLink::Follow);
    EXPECT_EQ(Classify("http://127.0.0.210:4000/help").m_eAction, EDirectoryLink::External);
    EXPECT_EQ(Classify("https://www.example.org/").m_eAction, EDirectoryLink::External);
    EXPECT_EQ(Classify("HTTP://www.example.org/").m_eAction, EDirectoryLink::External);
    // Naming the directory somewhere in an outside address does not make it the directory.
    EXPECT_EQ(Classify("http://evil.example/?next=" + kDir).m_eAction, EDirectoryLink::External);
    // Nothing but web pages goes to the desktop's handlers.
    EXPECT_EQ(Classify("file:///etc/passwd").m_eAction, EDirectoryLink::Refuse);
    EXPECT_EQ(Classify("velaphon:5550001@host").m_eAction, EDirectoryLink::Refuse);
    // Without a directory address every page is the directory's.
    EXPECT_EQ(ClassifyDirectoryLink("http://anything.example/", "").m_eAction, EDirectoryLink::Follow);
}
