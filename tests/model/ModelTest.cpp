#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TimeZone.h"
#include "model/DateTime.h"
#include "model/NASDEF.h"
#include "model/StringList.h"
#include "model/Utils.h"

TEST(FeatureRecord, FreshRecordIsEmptyAndSettingTypeInitialises) {
    TAXObject r;
    EXPECT_FALSE(r.Initialized());
    EXPECT_EQ(r.objektart(), "");
    EXPECT_EQ(r.wfsType, twfsInsert);
    EXPECT_EQ(r.dtBegin, 0);
    EXPECT_EQ(r.dtEnde, 0);
    EXPECT_TRUE(r.modellarten.Empty());
    EXPECT_TRUE(r.attribute.Empty());
    EXPECT_TRUE(r.relationen.empty());
    EXPECT_EQ(r.hatDirektUnten, nullptr);
    r.SetObjektart("");
    EXPECT_TRUE(r.Initialized());
}

TEST(FeatureRecord, RelationsGroupByExactTypeAndKeepDuplicates) {
    TAXObject r;
    r.AddRelation("istGebucht", "A");
    r.AddRelation("istGebucht", "B");
    r.AddRelation("IstGebucht", "C");
    r.AddRelation("istGebucht", "A");
    ASSERT_EQ(r.relationen.size(), 2u);
    EXPECT_EQ(r.relationen[0]->RelTyp, "istGebucht");
    EXPECT_EQ(r.relationen[0]->Lines(), (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_EQ(r.relationen[1]->RelTyp, "IstGebucht");
    EXPECT_EQ(r.relationen[1]->Lines(), (std::vector<std::string>{"C"}));
}

TEST(LookupTables, NotFoundResultsAndFirstHitWins) {
    TModellarten m;
    TRelationTypen t;
    EXPECT_EQ(m.GetIdx("DLKM"), 0);
    EXPECT_EQ(t.GetTyp("zeigtAuf"), -1);
    m.push_back(std::make_unique<TModellart>("DLKM", 3));
    EXPECT_EQ(m.GetIdx("DLKM"), 3);
    EXPECT_EQ(m.GetIdx("dlkm"), 0);
    EXPECT_EQ(m.GetIdx(" DLKM"), 0);
    t.push_back(std::make_unique<TRelationTyp>("hat", 4));
    t.push_back(std::make_unique<TRelationTyp>("hat", 9));
    EXPECT_EQ(t.GetTyp("hat"), 4);
}

TEST(LookupTables, StandardReferenceSystemIsTheFirstFlagged) {
    TKooRefSysteme k;
    EXPECT_EQ(k.GetStdCRS(), "");
    auto fresh = std::make_unique<TKooRefSys>("ETRS89_UTM32");
    EXPECT_EQ(fresh->SRID, -1);
    EXPECT_FALSE(fresh->standard);
    EXPECT_EQ(fresh->nks, 2);
    k.push_back(std::move(fresh));
    EXPECT_EQ(k.GetStdCRS(), "");
    for (const char* crs : {"A", "B"}) {
        k.push_back(std::make_unique<TKooRefSys>(crs));
        k.back()->standard = true;
    }
    EXPECT_EQ(k.GetStdCRS(), "A");
}

TEST(Utils, SafeStrToInt) {
    const std::pair<const char*, int> cases[] = {
        {"5432", 5432},
        {"", -1},
        {"12a", -1},
        {"2147483648", -1},
        {"-1", -1},
        {"+7", 7},
        {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX},
        {" 5", -1},
        {"-", -1},
        {"99999999999999999999", -1},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(SafeStrToInt(text), expected) << "'" << text << "'";
}

TEST(Utils, GetNextToken) {
    struct Case {
        std::string s, delim, token, rest;
    } cases[] = {
        {"gfk|2", "|", "gfk", "2"}, {"|2", "|", "", "2"},      {"gfk2", "|", "", "gfk2"},  {"", "|", "", ""},
        {"gfk|2", "", "", "gfk|2"}, {"aXYb", "XY", "a", "Yb"}, {"a|b|c", "|", "a", "b|c"},
    };
    for (auto c : cases) {
        std::string token = "stale";
        std::string s = c.s;
        GetNextToken(s, c.delim, token);
        EXPECT_EQ(token, c.token) << c.s;
        EXPECT_EQ(s, c.rest) << c.s;
    }
}

TEST(Utils, FileSizeByName) {
    const auto dir = std::filesystem::temp_directory_path() / ("kelpora-size-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto empty = dir / "empty.xml";
    std::ofstream(empty).close();
    const auto sparse = dir / "sparse.bin";
    const std::int64_t big = (5LL << 30) + 123;
    {
        std::ofstream(sparse).close();
        ASSERT_EQ(::truncate(sparse.c_str(), big), 0);
    }
    EXPECT_EQ(FileSizeByName((dir / "missing").string()), -1);
    EXPECT_EQ(FileSizeByName(empty.string()), 0);
    EXPECT_EQ(FileSizeByName(sparse.string()), big);
    EXPECT_EQ(FileSizeByName(dir.string()), 0);
    std::filesystem::remove_all(dir);
}

TEST(Utils, TempFileNamesAreNewAndReserved) {
    const std::string folder = GetTempPathStr();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    const std::string a = GetTempFileNameStr(folder, "ZOQX", 0);
    const std::string b = GetTempFileNameStr(folder, "ZOQX", 0);
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(FileSizeByName(a), 0);
    const std::string base = std::filesystem::path(a).filename().string();
    EXPECT_EQ(base.substr(0, 3), "ZOQ");
    EXPECT_EQ(std::filesystem::path(a).extension(), ".tmp");
    EXPECT_EQ(GetTempFileNameStr("/nonexistent-kelpora-dir", "ZOQ", 0), "");
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(DateTime, DatabaseText) {
    struct Case {
        TDateTime value;
        const char* text;
    } cases[] = {
        {0, "1899-12-30"},
        {EncodeDate(2024, 10, 16), "2024-10-16"},
        {EncodeDate(2024, 10, 16) + EncodeTime(8, 0, 0, 0), "2024-10-16 08:00:00"},
        {EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 0), "2024-02-29 23:59:59"},
        // a fraction is written to the millisecond, also at midnight; 999.6 ms rounds up to the next second
        {EncodeDate(2011, 4, 29) + EncodeTime(0, 0, 0, 400), "2011-04-29 00:00:00.400"},
        {EncodeDate(2011, 4, 29) + EncodeTime(7, 6, 35, 5), "2011-04-29 07:06:35.005"},
        {EncodeDate(12011, 4, 29) + EncodeTime(7, 6, 35, 120), "12011-04-29 07:06:35.120"},
        {EncodeDate(2011, 4, 29) + EncodeTime(7, 6, 35, 999) + 0.6 / 86400000.0, "2011-04-29 07:06:36"},
        {EncodeDate(2011, 4, 29) + EncodeTime(23, 59, 59, 999) + 0.6 / 86400000.0, "2011-04-30"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateTimeToDbText(c.value), c.text);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    // The moments the system takes for itself are whole seconds, so their text has no fraction.
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(Now(), y, mo, d, h, mi, s, ms);
    EXPECT_EQ(ms, 0);
    EXPECT_EQ(DateTimeToDbText(Now()).find('.'), std::string::npos);
}

// The clock of the stored lifespans is UTC whatever the zone of the machine; the local clock (of the log
// times) follows the zone.
TEST(DateTime, UtcClockIgnoresTheZoneTheLocalOneFollowsIt) {
    for (const TZoneCase& c : kZonesAroundUtc) {
        SCOPED_TRACE(c.zone);
        const TTimeZoneForTest zone(c.zone);
        const std::time_t before = std::time(nullptr);
        const TDateTime utc = NowUtc();
        const TDateTime local = Now();
        const std::time_t after = std::time(nullptr);
        // Seconds since 1970 of the UTC clock's value (25569 days after 1899-12-30).
        const double seconds = (utc - 25569.0) * 86400.0;
        EXPECT_GE(seconds, static_cast<double>(before) - 0.5);
        EXPECT_LE(seconds, static_cast<double>(after) + 0.5);
        int y, mo, d, h, mi, s, ms;
        DecodeDateTime(utc, y, mo, d, h, mi, s, ms);
        EXPECT_EQ(ms, 0);
        EXPECT_NEAR((local - utc) * 24.0, c.hoursEastOfUtc, 2.0 / 3600.0);
    }
}

TEST(StringList, NameValueLines) {
    TStringList l;
    l.SetValue("AX_Gebaeude", "1");
    l.Add("plain line");
    l.SetValue("ax_gebaeude", "2");
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(l[0], "ax_gebaeude=2");
    EXPECT_EQ(l.Value("AX_GEBAEUDE"), "2");
    EXPECT_EQ(l.IndexOfName("plain line"), -1);
    EXPECT_EQ(l.Value("missing"), "");
    l.Add("a=b=c");
    EXPECT_EQ(l.Names(2), "a");
    EXPECT_EQ(l.ValueFromIndex(2), "b=c");
    l.SetValue("AX_Gebaeude", "");
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(l[0], "plain line");
}

// Long lists find names through an index: every edit keeps the lookups what a scan from the top gives.
TEST(StringList, LookupsOfALongListFollowEveryEdit) {
    TStringList l;
    for (int i = 0; i < 100; ++i)
        l.Add("n" + std::to_string(i) + "=v" + std::to_string(i));
    l.Add("N7=second");
    l.Add("no name here");
    EXPECT_EQ(l.IndexOfName("N7"), 7);
    EXPECT_EQ(l.Value("n99"), "v99");
    EXPECT_EQ(l.IndexOfName("no name here"), -1);
    EXPECT_EQ(l.IndexOfName("n1=v1"), -1);
    l.Delete(7);
    EXPECT_EQ(l.Value("n7"), "second");
    EXPECT_EQ(l.IndexOfName("n8"), 7);
    l.Insert(0, "n8=first");
    EXPECT_EQ(l.Value("n8"), "first");
    l[1] = "renamed=x";
    EXPECT_EQ(l.IndexOfName("n0"), -1);
    EXPECT_EQ(l.IndexOfName("RENAMED"), 1);
    l.SetValue("n50", "");
    EXPECT_EQ(l.IndexOfName("n50"), -1);
    EXPECT_EQ(l.IndexOfName("n51"), 50);
    l.SetValue("fresh", "1");
    EXPECT_EQ(l.IndexOfName("FRESH"), l.Count() - 1);
    l.AppendToLine(l.IndexOf("no name here"), "=now");
    EXPECT_EQ(l.Value("no name here"), "now");
    l.AppendToLine(l.IndexOfName("n60"), "=tail");
    EXPECT_EQ(l.Value("n60"), "v60=tail");
    const TStringList copy = l;
    EXPECT_EQ(copy.IndexOfName("fresh"), l.Count() - 1);
    l.Clear();
    EXPECT_EQ(l.IndexOfName("n60"), -1);
}
