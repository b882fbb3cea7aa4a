// The marker-order check shared by the editor's save and tessivo-tool.
#include "tags/MarkerOrder.h"
#include "tags/U_Funcoes.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

TEST(MarkerOrderTest, TimeTextsParseToMillisecondsOrAreRefused) {
    const struct {
        const char* text;
        int64_t ms;  // -1: refused
    } cases[] = {
        {"0:00.000", 0},           {"3:05.250", 185250},     {" 1:23.456\t", 83456},  {"0:10,5", 10500},
        {"0:09.9996", 10000},      {"0:09.9994", 9999},      {"0:75", 75000},         {"1:00:00.000", 3600000},
        {"1:02:03:04.005", 93784005}, {"", -1},              {"30.5", -1},            {"abc", -1},
        {"-0:01.000", -1},         {"0:+1.000", -1},         {"0:1.", -1},            {":1.000", -1},
        {"0:1.0a", -1},            {"1:2:3:4:5.000", -1},    {"9999999999:00.000", -1}, {"0:1.000.5", -1},
    };
    for (const auto& c : cases) {
        int64_t ms = -7;
        EXPECT_EQ(MarkerTimeMs(c.text, ms), c.ms >= 0) << c.text;
        EXPECT_EQ(ms, c.ms >= 0 ? c.ms : -7) << c.text;
    }
}

TEST(MarkerOrderTest, ProblemsOfTheSetMarkers) {
    const struct {
        TMarkerTexts m;  // start, intro, chorus start, chorus end, mix, end, stamp
        int64_t audioMs;
        Lines problems;
    } cases[] = {
        // In order, unset markers skipped, equal where allowed.
        {{"0:01.000", "0:01.000", "0:30.000", "1:00.000", "2:50.000", "3:00.000", "0:10.000"}, 180000, {}},
        {{"", "", "", "", "", "", ""}, 0, {}},
        {{"0:05.000", "", "", "", "", "0:05.000", ""}, -1, {}},
        {{"1:00.000", "", "", "", "", "0:30.000", ""}, -1, {"Fim antes do Início"}},
        // One marker out of place is named against its set neighbour only.
        {{"0:01.000", "0:50.000", "0:20.000", "", "2:00.000", "", ""}, -1,
         {"Início do Refrão antes da Introdução"}},
        {{"", "", "", "", "2:00.000", "1:00.000", ""}, -1, {"Fim antes da Mixagem"}},
        {{"", "", "0:30.000", "0:30.000", "", "", ""}, -1, {"Final do Refrão igual ao Início do Refrão"}},
        {{"", "0:40.000", "", "", "0:30.000", "", ""}, -1, {"Mixagem antes da Introdução"}},
        // The stamp inside start..end; markers past the audio; texts that are no time.
        {{"0:10.000", "", "", "", "", "1:00.000", "0:05.000"}, -1, {"Carimbo antes do Início"}},
        {{"0:10.000", "", "", "", "", "1:00.000", "1:00.001"}, -1, {"Carimbo depois do Fim"}},
        {{"", "", "", "", "", "3:00.001", "3:10.000"}, 180000,
         {"Carimbo depois do Fim", "Fim além do fim do áudio (3:00.000)", "Carimbo além do fim do áudio (3:00.000)"}},
        {{"", "", "", "", "", "3:00.000", ""}, 180000, {}},
        {{"0:10.000", "abc", "", "", "1:05:00,000", "0:05.000", "x:1"}, 3700000,
         {"Introdução: \"abc\" não é um tempo", "Carimbo: \"x:1\" não é um tempo", "Fim antes da Mixagem",
          "Mixagem além do fim do áudio (1:01:40.000)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m.Start + " " + c.m.Intro + " " + c.m.ChorusStart + " " + c.m.ChorusEnd + " " + c.m.Mix + " " +
                     c.m.End + " " + c.m.StampTime);
        EXPECT_EQ(MarkerOrderProblems(c.m, c.audioMs), c.problems);
    }
}

TEST(MarkerOrderTest, TheWriterFallsBackOnTheValuesReadFromTheFile) {
    Tag read;
    read.StartMark = "0:01.000";
    read.EndMark = "0:50.000";
    read.MixMark = "0:40.000";
    read.StampMark = "0:20.000";
    const TMarkerTexts m = MarkersToWrite({"", "0:02.000", "", "", "", "0:30.000", ""}, read);
    EXPECT_EQ(m.Start, "0:01.000");
    EXPECT_EQ(m.Intro, "0:02.000");
    EXPECT_EQ(m.End, "0:30.000");
    EXPECT_EQ(m.Mix, "0:40.000");
    EXPECT_EQ(m.StampTime, "0:20.000");
    EXPECT_EQ(m.ChorusStart, "");
}
