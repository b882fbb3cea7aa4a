// Suggested markers in the window: ghosts for the empty rows only, drawn dashed in the views,
// taken by Enter in their edit or by the row's show button; a marker read from the tag stays.
#include "EditorTestUtil.h"

#include "analysis/MarkerSuggest.h"
#include "import/U_Mp3ToWav.h"

#include <QLineEdit>

using namespace editortest;
using testutil::shellQuote;

namespace {

// 1 s of silence, 8 s of music ending cold, 1 s of silence: start 1 s, end 9 s, mix 8.5 s.
bool makeSong(const std::string& wav) {
    return testutil::run("sox -D -n -r 44100 -c 2 -b 16 " + shellQuote(wav) +
                         " synth 8 sine 220 sine 331 tremolo 3 50 gain -8 pad 1 1 2>/dev/null") == 0;
}

// Whether the column of view shows, between the two pictures, exactly a dashed line: 3 pixels
// changed, 3 the same, from the top down.
bool dashedDifference(const QImage& a, const QImage& b, int x) {
    for (int y = 0; y < a.height(); ++y)
        if ((a.pixelColor(x, y) != b.pixelColor(x, y)) != (y % 6 < 3)) return false;
    return true;
}

bool sameColumn(const QImage& a, const QImage& b, int x) {
    for (int y = 0; y < a.height(); ++y)
        if (a.pixelColor(x, y) != b.pixelColor(x, y)) return false;
    return true;
}

}  // namespace

class SuggestGhostTest : public EditorTest {};

TEST_F(SuggestGhostTest, GhostsOnlyForEmptyRowsEnterOrShowAcceptsTagValueStays) {
    const std::string wav = dir_.file("song.wav"), mp3 = dir_.file("song.mp3");
    ASSERT_TRUE(makeSong(wav));
    ASSERT_EQ(testutil::run("lame --quiet -b 128 " + shellQuote(wav) + " " + shellQuote(mp3)), 0);
    ASSERT_EQ(testutil::run(shellQuote((testutil::binDir() / "tessivo-tool").string()) + " write " + shellQuote(mp3) +
                            " --end 0:07.000 >/dev/null"),
              0);
    TFrmTessivo* w = open(mp3);
    QTRY_VERIFY_WITH_TIMEOUT(!w->SuggestionsPending(), 20000);

    // The window's suggestions are those of its Temp.wav.
    TMarkerSuggestions s;
    ASSERT_EQ(SuggestMarkers(TempWavFileName(folder()).toStdString(), s), TSuggestResult::Ok);
    ASSERT_TRUE(s.Start && s.End && s.Mix);
    const int rows[] = {1, 2, 5};  // Início, Fim, Mixagem
    const double seconds[] = {*s.Start, *s.End, *s.Mix};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(w->SuggestedFrame(rows[i]), std::lround(seconds[i] * 44100));
    EXPECT_NEAR(*s.Start, 1.05, 0.1);  // the decoder's delay comes first

    auto* edInicio = w->Control<QLineEdit>("EdInicio");
    auto* edFim = w->Control<QLineEdit>("EdFim");
    auto* edMixagem = w->Control<QLineEdit>("EdMixagem");
    // Fim holds the tag's value: no ghost, nothing replaced.
    EXPECT_TRUE(w->ShowsGhost(1) && !w->ShowsGhost(2) && w->ShowsGhost(5));
    EXPECT_EQ(edFim->text(), "0:07.000");
    EXPECT_TRUE(edFim->placeholderText().isEmpty());
    EXPECT_FALSE(edFim->isEnabled());
    EXPECT_EQ(edInicio->placeholderText(), w->SampleToTimeText(w->SuggestedFrame(1)));
    EXPECT_EQ(edInicio->toolTip(), "sugerido");
    EXPECT_TRUE(edInicio->text().isEmpty() && w->State().StartText.isEmpty());
    EXPECT_TRUE(edInicio->isEnabled() && edMixagem->isEnabled());  // a ghost's edit takes the focus

    TMMOscope* views[] = {w->Control<TMMOscope>("Oscope1"), w->Control<TMMOscope>("Oscope3")};
    auto column = [&](TMMOscope* v, int row) {
        const int32_t f = w->SuggestedFrame(row);
        return v == views[1] ? f / w->State().OverviewStep : w->SampleToPixel(f);
    };
    const QImage before[] = {views[0]->ScreenImage().copy(), views[1]->ScreenImage().copy()};

    // Enter in Início's edit takes its ghost, as "Início" would from a selection there.
    edInicio->setFocus();
    QTest::keyClick(edInicio, Qt::Key_Return);
    EXPECT_EQ(w->State().StartText, w->SampleToTimeText(w->SuggestedFrame(1)));
    EXPECT_EQ(edInicio->text(), w->State().StartText);
    EXPECT_FALSE(w->ShowsGhost(1));
    const QImage after[] = {views[0]->ScreenImage().copy(), views[1]->ScreenImage().copy()};
    for (int v = 0; v < 2; ++v) {
        SCOPED_TRACE(v);
        EXPECT_TRUE(dashedDifference(before[v], after[v], column(views[v], 1)));  // Início's line gone
        EXPECT_TRUE(sameColumn(before[v], after[v], column(views[v], 5)));        // Mixagem's stays
        EXPECT_TRUE(sameColumn(before[v], after[v], column(views[v], 2)));        // Fim never had one
    }

    // The show button of a ghost row takes it too.
    w->Control<TPNGButton>("BFindMix")->click();
    EXPECT_EQ(w->State().MixText, w->SampleToTimeText(w->SuggestedFrame(5)));
    EXPECT_EQ(edMixagem->text(), w->State().MixText);
    EXPECT_TRUE(dashedDifference(after[1], views[1]->ScreenImage(), column(views[1], 5)));
    EXPECT_EQ(w->State().EndText, "0:07.000");

    // A cleared row offers its ghost again.
    w->Control<TPNGButton>("BLimpaFim")->click();
    EXPECT_TRUE(w->ShowsGhost(2));
    EXPECT_TRUE(edFim->isEnabled());
    EXPECT_TRUE(w->State().EndText.isEmpty());
    EXPECT_EQ(messages(), "");
}
