// Marking bench, on the real window (offscreen): the catalogue search as the operator types it,
// one key at a time (each key runs the search and refills the grid), and the save of the
// markers of a loaded song whose tag has room (the write in place and the release of the audio
// shown), and that write alone. Prints "name value" lines; bench/marking.sh adds the reference tools and the ratios.
//
// Usage: bench_marking CATALOGUE.fdb SONG.mp3 ROUNDS
//   CATALOGUE.fdb  the sample catalogue (db/make-catalogue.sh)
//   SONG.mp3       an MP3 whose ID3v2 tag has room for the markers (changed by the saves)
// Links: tessivo_app Qt6::Test
#include "app/Application.h"
#include "app/PNGButton.h"
#include "app/UTessivo.h"
#include "bench/BenchTiming.h"
#include "db/FBDatabase.h"
#include "tags/U_Funcoes.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QAbstractItemModel>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

using bench::Clock;
using bench::Ms;
using bench::Percentile;

// The whole process: the embedded database engine's threads included.
double CpuMs() { return bench::CpuMs(RUSAGE_SELF); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_marking CATALOGUE.fdb SONG.mp3 ROUNDS\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    SetUpApplication();
    const QString catalogue = QString::fromLocal8Bit(argv[1]), song = QString::fromLocal8Bit(argv[2]);
    const int rounds = std::max(1, std::atoi(argv[3]));

    QTemporaryDir folder;
    const QString log = folder.filePath("messages.txt");
    setenv("TESSIVO_MESSAGE_LOG", log.toLocal8Bit().constData(), 1);
    std::ofstream(folder.filePath("BaseQuelt.ini").toStdString()) << "[BANCO]\nCAMINHO=" << catalogue.toStdString()
                                                                   << "\n";
    TFrmTessivo w({song}, folder.path());
    w.show();
    if (!w.State().Loaded || !w.Database()->Connected()) {
        std::fprintf(stderr, "the window did not load the song with the catalogue\n");
        return 1;
    }

    // Search as you type: words typed letter by letter and erased again, each key timed.
    w.Control<TPNGButton>("SpeedButton14")->click();
    QLineEdit* box = w.Control<QLineEdit>("EdBuscarVinhetas");
    const auto* grid = w.Control<QAbstractItemModel>("DS_Vinhetas");
    const int all = grid->rowCount();
    std::vector<double> keys, keysCpu;
    for (int r = 0; r < rounds; ++r) {
        for (const char* word : {"hora certa", "vinheta", "previsão", "efeito"}) {
            for (const QChar c : QString::fromUtf8(word)) {
                const double c0 = CpuMs();
                const auto t0 = Clock::now();
                if (c.unicode() < 128)
                    QTest::keyClick(box, char(c.unicode()));
                else
                    box->insert(c);  // a letter without a key of its own
                keys.push_back(Ms(Clock::now() - t0));
                keysCpu.push_back(CpuMs() - c0);
            }
            while (!box->text().isEmpty()) {
                const double c0 = CpuMs();
                const auto t0 = Clock::now();
                QTest::keyClick(box, Qt::Key_Backspace);
                keys.push_back(Ms(Clock::now() - t0));
                keysCpu.push_back(CpuMs() - c0);
            }
        }
    }
    if (grid->rowCount() != all || QFile(log).size() > 0) {
        std::fprintf(stderr, "the search did not come back to the whole catalogue, or showed a message\n");
        return 1;
    }
    std::printf("catalogue_rows %d\n", all);
    std::printf("search_key_median_ms %.3f\n", Percentile(keys, 0.5));
    std::printf("search_key_p95_ms %.3f\n", Percentile(keys, 0.95));
    std::printf("search_key_max_ms %.3f\n", Percentile(keys, 1.0));
    std::printf("search_key_cpu_median_ms %.3f\n", Percentile(keysCpu, 0.5));
    std::printf("search_key_cpu_max_ms %.3f\n", Percentile(keysCpu, 1.0));

    // Save: a marker set, the save timed; cancel reloads the song for the next round.
    std::vector<double> saves;
    for (int r = 0; r < rounds; ++r) {
        w.State().SelStart = w.State().LiveStart = 44100 * (r + 1);
        w.Control<TPNGButton>("SpeedButton1")->click();
        const auto t0 = Clock::now();
        w.Control<TPNGButton>("btnGravarMarcacoes")->click();
        saves.push_back(Ms(Clock::now() - t0));
        if (w.State().Loaded || QFile(log).size() > 0) {
            std::fprintf(stderr, "the save failed\n");
            return 1;
        }
        w.Control<TPNGButton>("btnCancelarMarcacoes")->click();
        if (!w.State().Loaded) return 1;
    }
    std::printf("save_median_ms %.3f\n", Percentile(saves, 0.5));
    std::printf("save_max_ms %.3f\n", Percentile(saves, 1.0));

    // The write alone, as the save makes it: the file's values read first (untimed), then the
    // one 28-argument call, in place.
    std::vector<double> writes;
    const std::string path = song.toStdString(), e;
    for (int r = 0; r < std::max(20, rounds * 4); ++r) {
        OpenAudioInfo("MP3");
        ReadAudioInfo(path);
        const std::string intro = "0:0" + std::to_string(r % 10) + ".000";
        const auto t0 = Clock::now();
        if (!WriteMarkers(path, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, "bench", intro, e, e, e, e, e,
                          e, e))
            return 1;
        writes.push_back(Ms(Clock::now() - t0));
    }
    FreeAudioInfo("MP3");
    std::printf("write_median_ms %.3f\n", Percentile(writes, 0.5));
    return 0;
}
