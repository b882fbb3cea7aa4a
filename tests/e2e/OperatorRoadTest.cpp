// The whole road of one song as an operator takes it: the real tessivo executable on a private
// X server (Xvfb), driven by real input events (xdotool), with a real catalogue through the
// embedded engine and a real sound device (a private PulseAudio server's null sink, recorded
// through its monitor). The song has an old tag of several frames; the marks are saved into it,
// read back by mutagen, and read again by the program after "Cancelar Marcações".
//
// The program describes what its windows show through TESSIVO_CONTROL_DUMP (app/ControlDump.h):
// the test finds the controls there, clicks and types at them, and waits on what they show,
// never on time alone. The pictures of every step are taken from the X server; with
// TESSIVO_SCREENSHOTS naming a folder (docs/screenshots) they go there, for the operator's guide.
#include "XServer.h"
#include "support/PulseServer.h"
#include "support/TestUtil.h"
#include "tags/Id3TestUtil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace testutil;
using id3test::frameOf;
using id3test::mutagenTag;
using id3test::textOf;

namespace {

// One line of the control dump.
struct Control {
    std::string name, cls;
    unsigned long window = 0;
    QRect rect;
    std::string flags, text;
    bool has(char flag) const { return flags.find(flag) != std::string::npos; }
    // A point inside, at fractions of the width and height.
    QPoint at(double fx, double fy = 0.5) const {
        return {rect.x() + int(fx * (rect.width() - 1)), rect.y() + int(fy * (rect.height() - 1))};
    }
};

struct Dump {
    std::vector<Control> controls;
    std::string raw;
    const Control* find(const std::string& name) const {
        for (const Control& c : controls)
            if (c.name == name) return &c;
        return nullptr;
    }
    // Whether the control is there with the flag (e enabled, c checked, f focused).
    bool flag(const std::string& name, char f) const {
        const Control* c = find(name);
        return c && c->has(f);
    }
    std::string text(const std::string& name) const {
        const Control* c = find(name);
        return c ? c->text : std::string("<absent>");
    }
    // The visible rows of a table, in order.
    std::vector<const Control*> rows(const std::string& table) const {
        std::vector<const Control*> out;
        for (const Control& c : controls)
            if (c.cls == "row" && c.name.rfind(table + ":", 0) == 0) out.push_back(&c);
        return out;
    }
};

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char n = s[++i];
        out += n == 'n' ? '\n' : n == 't' ? '\t' : n;
    }
    return out;
}

Dump parseDump(const std::string& raw) {
    Dump d;
    d.raw = raw;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\n', start);
        if (end == std::string::npos) end = raw.size();
        std::vector<std::string> f;
        size_t p = start;
        for (int i = 0; i < 8; ++i) {
            const size_t tab = raw.find('\t', p);
            if (tab == std::string::npos || tab > end) break;
            f.push_back(raw.substr(p, tab - p));
            p = tab + 1;
        }
        if (f.size() == 8) {
            Control c;
            c.name = f[0];
            c.cls = f[1];
            c.window = std::stoul(f[2], nullptr, 16);
            c.rect = QRect(std::stoi(f[3]), std::stoi(f[4]), std::stoi(f[5]), std::stoi(f[6]));
            c.flags = f[7];
            c.text = unescape(raw.substr(p, end - p));
            d.controls.push_back(c);
        }
        start = end + 1;
    }
    return d;
}

// The time text the window gives a frame at 44100 Hz: milliseconds rounded half up, m:ss.mmm.
std::string timeText(long frame) {
    const long ms = (frame * 1000 + 22050) / 44100;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
    return buf;
}

// The data chunk of a RIFF WAVE file.
std::string waveData(const std::string& file) {
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t size = uint32_t(uint8_t(file[at + 4])) | uint32_t(uint8_t(file[at + 5])) << 8 |
                              uint32_t(uint8_t(file[at + 6])) << 16 | uint32_t(uint8_t(file[at + 7])) << 24;
        if (file.compare(at, 4, "data") == 0) return file.substr(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// The bytes after the ID3v2 tag at the start of a file (the audio).
std::string afterTag(const std::string& file) {
    if (file.size() < 10 || file.compare(0, 3, "ID3") != 0) return file;
    const size_t size = size_t(file[6] & 0x7F) << 21 | size_t(file[7] & 0x7F) << 14 | size_t(file[8] & 0x7F) << 7 |
                        size_t(file[9] & 0x7F);
    return file.substr(std::min(file.size(), 10 + size));
}

// The rows of the picture that hold the colour: a flat line is one or two, a waveform many.
int rowsWith(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour) {
                ++n;
                break;
            }
        }
    }
    return n;
}

const QRgb kLime = qRgb(0, 255, 0);  // the detail view's waveform

class OperatorRoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(XServer::Available()) << "Xvfb and xdotool are needed (scripts/install-deps.sh)";
        ASSERT_TRUE(PulseServer::Available()) << "pulseaudio, pactl and parec are needed";
        ASSERT_TRUE(haveTool("isql-fb")) << "isql-fb is needed for the catalogue";
        // The program folder: the executable and its libraries, BaseQuelt.ini beside them.
        const fs::path bin = binDir();
        ASSERT_TRUE(fs::exists(bin / "tessivo")) << bin;
        program_ = dir_.path() / "programa";
        fs::create_directories(program_);
        std::error_code ec;
        fs::create_hard_link(bin / "tessivo", program_ / "tessivo", ec);
        if (ec) fs::copy_file(bin / "tessivo", program_ / "tessivo");
        for (const auto& entry : fs::directory_iterator(bin)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("lib", 0) == 0 && name.find(".so") != std::string::npos)
                fs::create_symlink(entry.path(), program_ / name);
        }
        const std::string catalogue = (program_ / "catalogo.fdb").string();
        catalogueSql_ = readFile((sourceDir() / "db" / "sample.sql").string());
        ASSERT_EQ(makeCatalogue(catalogue, catalogueSql_), "");
        writeFile((program_ / "BaseQuelt.ini").string(), "[BANCO]\r\nCAMINHO=" + catalogue + "\r\n");

        const char* target = std::getenv("TESSIVO_SCREENSHOTS");
        pictures_ = target && *target ? fs::path(target) : dir_.path() / "pictures";
        fs::create_directories(pictures_);
    }

    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Starts the program on the song, on the X server, with the real sound device.
    void startProgram(const std::string& song) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("QT_QPA_PLATFORM=", 0) == 0 || v.rfind("TESSIVO_", 0) == 0 || v.rfind("DISPLAY=", 0) == 0 ||
                v.rfind("LC_", 0) == 0 || v.rfind("LANG", 0) == 0)
                continue;
            env.push_back(v);
        }
        env.push_back("LANG=pt_BR.UTF-8");  // as on the stations' desktops: a decimal comma
        env.push_back("DISPLAY=" + x_.Display());
        env.push_back("QT_QPA_PLATFORM=xcb");
        env.push_back("TESSIVO_CONTROL_DUMP=" + dumpPath());
        const std::string program = (program_ / "tessivo").string(), err = dir_.file("tessivo.log");
        std::vector<char*> envp, argv = {const_cast<char*>(program.c_str()), const_cast<char*>(song.c_str()), nullptr};
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        const int rc = posix_spawn(&pid_, program.c_str(), &files, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&files);
        ASSERT_EQ(rc, 0);
    }

    std::string dumpPath() const { return dir_.file("controles.txt"); }
    Dump dump() const {
        std::error_code ec;
        if (!fs::exists(dumpPath(), ec)) return {};
        return parseDump(readFile(dumpPath()));
    }

    // Waits until cond holds for what the window shows (running during meanwhile, when
    // given); false, with what the window showed, when the program ended or the time ran out.
    bool waitFor(const std::string& what, const std::function<bool(const Dump&)>& cond, int seconds = 40,
                 const std::function<void()>& during = {}) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        Dump d;
        while (std::chrono::steady_clock::now() < until) {
            d = dump();
            if (!d.controls.empty() && cond(d)) return true;
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                ADD_FAILURE() << "the program ended (status " << status << ") while waiting for " << what << "\n"
                              << readFile(dir_.file("tessivo.log"));
                return false;
            }
            // during runs every 2 ms: a window that shows for a moment is seen.
            for (const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
                 std::chrono::steady_clock::now() < next;) {
                if (during) during();
                std::this_thread::sleep_for(std::chrono::milliseconds(during ? 2 : 20));
            }
        }
        ADD_FAILURE() << "timed out waiting for " << what << "; the window showed:\n" << d.raw;
        return false;
    }
    bool waitText(const std::string& name, const std::string& text) {
        return waitFor(name + " showing \"" + text + "\"", [&](const Dump& d) { return d.text(name) == text; });
    }
    // Waits until the control's text differs from before and returns it (empty on failure).
    std::string waitChange(const std::string& name, const std::string& before) {
        std::string now;
        const bool ok = waitFor(name + " changing from \"" + before + "\"", [&](const Dump& d) {
            now = d.text(name);
            return d.find(name) && now != before;
        });
        return ok ? now : std::string();
    }
    Control control(const std::string& name) {
        Control c;
        EXPECT_TRUE(waitFor(name + " visible", [&](const Dump& d) {
            const Control* found = d.find(name);
            if (found) c = *found;
            return found != nullptr;
        }));
        return c;
    }

    // xdotool on the private display.
    void xdo(const std::string& args) {
        std::string out;
        EXPECT_EQ(run("DISPLAY=" + x_.Display() + " xdotool " + args + " 2>&1", &out), 0) << args << ": " << out;
    }
    void clickAt(QPoint p, int button = 1) {
        xdo("mousemove --sync " + std::to_string(p.x()) + " " + std::to_string(p.y()) + " click " +
            std::to_string(button));
    }
    void click(const std::string& name) { clickAt(control(name).at(0.5)); }
    // The left button pressed at from and moved to to, in steps; released by release().
    void dragTo(QPoint from, QPoint to) {
        std::string moves;
        for (int i = 1; i <= 8; ++i)
            moves += " mousemove --sync " + std::to_string(from.x() + (to.x() - from.x()) * i / 8) + " " +
                     std::to_string(from.y());
        xdo("mousemove --sync " + std::to_string(from.x()) + " " + std::to_string(from.y()) + " mousedown 1" + moves);
    }
    void release() { xdo("mouseup 1"); }
    // Keys go to the window that has the X input focus: the program's window given.
    void keys(unsigned long window, const std::string& args) {
        xdo("windowfocus --sync " + std::to_string(window) + " " + args);
    }

    // The box of a message: waits for it, checks its text, takes its picture and answers it with
    // Enter; true when it went away.
    bool answerMessage(const std::string& text, const std::string& picture = "") {
        Control box;
        if (!waitFor("the message \"" + text + "\"", [&](const Dump& d) {
                const Control* b = d.find("QMessageBox");
                if (b) box = *b;
                return b && d.text("qt_msgbox_label") == text;
            }))
            return false;
        if (!picture.empty()) takePicture(picture, window());
        keys(box.window, "key Return");
        return waitFor("the message box to close", [](const Dump& d) { return !d.find("QMessageBox"); });
    }

    Control window() { return control("FrmTessivo"); }
    QImage takePicture(const std::string& name, const Control& area) { return takePicture(name, area.rect); }
    QImage takePicture(const std::string& name, const QRect& rect) {
        const QImage image = x_.Capture(rect);
        EXPECT_FALSE(image.isNull());
        EXPECT_TRUE(image.save(QString::fromStdString((pictures_ / name).string()), "PNG")) << name;
        return image;
    }
    // Waits until the detail view shows (or no longer shows) a waveform on the screen.
    bool waitWaveform(bool shown) {
        return waitFor(shown ? "a waveform on the screen" : "an empty detail view", [&](const Dump& d) {
            const Control* view = d.find("Oscope1");
            if (!view) return false;
            const int rows = rowsWith(x_.Capture(view->rect), kLime);
            return shown ? rows > 20 : rows <= 2;
        });
    }

    // A jingle's row of the sample catalogue: {type letter, file}.
    std::pair<std::string, std::string> jingle(const std::string& name) const {
        const std::regex row("'" + name + "', '[^']*', '(.)', '([^']*)'");
        std::smatch m;
        if (!std::regex_search(catalogueSql_, m, row)) return {};
        return {m[1], m[2]};
    }
    // The names of the sample catalogue holding text (ASCII, any case), in name order.
    std::vector<std::string> jinglesWith(const std::string& text) const {
        auto upper = [](std::string s) {
            std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
            return s;
        };
        std::vector<std::string> names;
        const std::regex row("INSERT INTO TB_Vinhetas [^;]*VALUES \\(\\d+, '((?:[^']|'')*)'");
        for (auto it = std::sregex_iterator(catalogueSql_.begin(), catalogueSql_.end(), row);
             it != std::sregex_iterator(); ++it) {
            const std::string n = (*it)[1];
            if (upper(n).find(upper(text)) != std::string::npos) names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    fs::path program_, pictures_;
    std::string catalogueSql_;
    XServer x_;
    pid_t pid_ = -1;
};

TEST_F(OperatorRoad, OneSongMarkedSavedAndReopened) {
    // The song, as the playout system hands it over: an odd name and an old tag of several
    // frames, among them a comment of another description.
    const std::string song = dir_.file("Minha Canção (ao vivo).mp3");
    ASSERT_EQ(run("bash " + shellQuote((sourceDir() / "scripts" / "make-demo.sh").string()) + " " + shellQuote(song) +
                  " >/dev/null"),
              0);
    ASSERT_TRUE(id3test::mutagenRun(song, R"PY(
from mutagen.id3 import TPE1, TRCK, TPUB, TXXX, COMM
t = ID3(path)
t.add(TPE1(encoding=1, text='Banda da Praça'))
t.add(TRCK(encoding=0, text='7/12'))
t.add(TPUB(encoding=0, text='Selo Independente'))
t.add(TXXX(encoding=1, desc='ORIGEM', text='Acervo da emissora'))
t.add(COMM(encoding=1, lang='por', desc='Observação', text='Versão editada para a rádio'))
t.add(TMXI(encoding=0, text='0:05.000'))
t.save(path, v2_version=3)
)PY"));
    const QJsonObject oldTag = mutagenTag(song);
    const std::string oldFile = readFile(song);

    PulseServer pulse;  // before the program: PortAudio lists its devices once
    ASSERT_TRUE(pulse.Start());
    ASSERT_TRUE(x_.Start());
    // What the operator will type: a search and a comment of two lines, in Portuguese.
    const std::string search = "hora certa 08", comment = "Versão ao vivo, com palmas no fim.\nRevisada às 8h.";
    QString letters;
    for (const QChar c : QString::fromStdString(search + comment))
        if (c.unicode() > 127 && !letters.contains(c)) letters += c;
    ASSERT_TRUE(x_.AddKeys(letters));
    startProgram(song);

    // The import dialog (225 x 62) shows while the song is converted. The guide shows the
    // picture whose gauge (below the label, from x 8 to 214) is nearest half way.
    auto importDialogs = [&] {
        int maps = 0;
        for (const auto& [id, w] : x_.Windows())
            if (w.rect.size() == QSize(225, 62)) maps += w.maps;
        return maps;
    };
    auto progressOf = [](const QImage& shot) {
        const QRgb face = shot.pixel(112, 27);  // between the label and the gauge
        if (qGray(face) < 100) return -1.0;     // not painted yet
        int filled = 0;
        for (int x = 10; x < 212; ++x) filled += shot.pixel(x, 33) != face;
        return filled / 202.0;
    };
    QImage dialogShot;
    double shotProgress = -1;
    auto watchDialog = [&] {
        for (const auto& [id, w] : x_.Windows()) {
            if (w.rect.size() != QSize(225, 62) || !w.mapped) continue;
            const QImage shot = x_.Capture(w.rect);
            const double progress = progressOf(shot);
            if (progress >= 0 && (shotProgress < 0 || std::abs(progress - 0.5) < std::abs(shotProgress - 0.5)))
                dialogShot = shot, shotProgress = progress;
        }
    };
    ASSERT_TRUE(waitFor(
        "the song loaded", [](const Dump& d) { return d.flag("PlayBtn", 'e') && !d.find("FrmMp3ToWav"); }, 60,
        watchDialog));
    EXPECT_EQ(importDialogs(), 1) << "the import dialog was not shown";
    if (!dialogShot.isNull()) {
        EXPECT_TRUE(dialogShot.save(QString::fromStdString((pictures_ / "operador-01-importacao.png").string())));
    }
    const Control main = window();
    ASSERT_EQ(main.rect.size(), QSize(764, 393));
    ASSERT_TRUE(waitWaveform(true));
    takePicture("operador-02-forma-de-onda.png", main);

    // A stretch dragged out in the overview fills the detail view (the scroll bar then
    // applies); a left and a right click there make the selection.
    const Control overview = control("Oscope3");
    const std::string beforeDrag = dump().text("StatusSample");
    dragTo(overview.at(0.30), overview.at(0.42));
    ASSERT_FALSE(waitChange("StatusSample", beforeDrag).empty());  // the band's place, then its length
    takePicture("operador-03-arraste.png", main);
    release();
    ASSERT_TRUE(waitFor("the stretch in the detail view", [](const Dump& d) { return d.flag("ScrollBar1", 'e'); }));
    const Control detail = control("Oscope1");
    // A click in the detail view; returns the boundary's time as the status shows it then.
    auto select = [&](double fx, int button) {
        const std::string before = dump().text("StatusSample");
        clickAt(detail.at(fx), button);
        return waitChange("StatusSample", before);
    };
    const std::string start = select(0.2, 1), end = select(0.75, 3);
    ASSERT_FALSE(start.empty() || end.empty());
    takePicture("operador-04-selecao.png", main);

    // Play: what the sink hears is the selection, every frame of Temp.wav from its start to its
    // end, in order.
    ASSERT_TRUE(pulse.StartRecording());
    click("PlayBtn");
    ASSERT_TRUE(waitFor("playback", [](const Dump& d) { return d.flag("PlayBtn", 'c'); }));
    ASSERT_TRUE(waitFor("the gauge filling under the selection",
                        [&](const Dump& d) { return std::atoi(d.text("Gauge1").c_str()) >= 25; }));
    takePicture("operador-05-tocando.png", main);
    ASSERT_TRUE(waitFor("the end of the selection", [](const Dump& d) { return !d.flag("PlayBtn", 'c'); }));
    const uint64_t heard = pulse.RecordedBytes();
    ASSERT_TRUE(waitFor("the recorder to go on for half a second",
                        [&](const Dump&) { return pulse.RecordedBytes() >= heard + 88200; }));
    const std::string recording = pulse.StopRecording();
    const std::string data = waveData(readFile((program_ / "Temp.wav").string()));
    const std::string silence(4, '\0');
    size_t first = 0;
    while (first + 4 <= recording.size() && recording.compare(first, 4, silence) == 0) first += 4;
    ASSERT_LT(first + 64, recording.size()) << "the sink heard nothing";
    long at = -1;
    for (size_t p = data.find(recording.substr(first, 64)); p != std::string::npos;
         p = data.find(recording.substr(first, 64), p + 1))
        if (p % 4 == 0) {
            at = long(p);
            break;
        }
    ASSERT_GE(at, 0) << "what the sink heard is not in Temp.wav";
    size_t i = size_t(at), j = first;  // silence a busy machine lets in between is skipped
    while (i + 4 <= data.size() && j + 4 <= recording.size()) {
        if (recording.compare(j, 4, data, i, 4) == 0)
            i += 4;
        else if (recording.compare(j, 4, silence) != 0)
            break;
        j += 4;
    }
    EXPECT_EQ(timeText(at / 4), start) << "playback did not begin at the selection's start";
    // The end: the output reports the range played, and closes the stream, once the device's
    // own estimate of what it still holds has run out; on a busy machine that estimate is a few
    // milliseconds short and the last frames are cut (seen up to 18 ms). Heard up to 50 ms
    // before the end, the end is the selection's, within two columns of the detail view.
    const long endFrame = long(std::llround(std::stod(end.substr(end.find(':') + 1)) * 44100)) +
                          std::stol(end.substr(0, end.find(':'))) * 60 * 44100;
    EXPECT_LE(long(i / 4), endFrame + 22) << "played past the selection's end " << end;
    EXPECT_GE(long(i / 4), endFrame - 2205) << "heard up to " << timeText(long(i / 4)) << ", not to the end " << end;
    RecordProperty("frames_cut_at_the_end", int(std::max(0L, endFrame - long(i / 4))));
    EXPECT_EQ(j, recording.size() - recording.size() % 4) << "the sink heard something else after frame " << i / 4;

    // The six markers, each from the selection of the moment.
    struct Mark {
        const char* set;
        const char* edit;
        double click;  // where to click before (0: keep the selection)
        int button;
        std::string value;
    };
    std::vector<Mark> marks = {{"SpeedButton9", "EdInicio", 0, 1, start}, {"SpeedButton11", "EdFim", 0, 1, end},
                               {"SpeedButton1", "EdIntroducao", 0.1, 1, ""},
                               {"SpeedButton10", "EdInicioRefrao", 0.3, 1, ""},
                               {"SpeedButton12", "EdFinalRefrao", 0.9, 3, ""},
                               {"SpeedButton13", "EdMixagem", 0.5, 1, ""}};
    for (Mark& m : marks) {
        if (m.click > 0) m.value = select(m.click, m.button);
        ASSERT_FALSE(m.value.empty());
        click(m.set);
        ASSERT_TRUE(waitText(m.edit, m.value));
    }
    takePicture("operador-06-marcacoes.png", main);
    const std::string stampAt = marks.back().value;  // the selection's start now

    // The catalogue searched by typing; the second row taken as the stamp.
    click("SpeedButton14");
    click("EdBuscarVinhetas");
    ASSERT_TRUE(waitFor("the search box focused", [](const Dump& d) {
        return d.flag("EdBuscarVinhetas", 'f');
    }));
    keys(main.window, "type --delay 40 " + shellQuote(search));
    const std::vector<std::string> found = jinglesWith(search);
    ASSERT_GE(found.size(), 2u);
    ASSERT_TRUE(waitFor("the rows found", [&](const Dump& d) {
        std::vector<std::string> names;
        for (const Control* r : d.rows("DBGrid4")) names.push_back(r->text.substr(0, r->text.find(" | ")));
        return d.text("EdBuscarVinhetas") == search && names == found;
    }));
    clickAt(dump().rows("DBGrid4")[1]->at(0.3));
    ASSERT_TRUE(waitFor("the second row current", [](const Dump& d) { const auto rows = d.rows("DBGrid4"); return rows.size() > 1 && rows[1]->has('c'); }));
    takePicture("operador-07-catalogo.png", main);
    click("SpeedButton18");
    ASSERT_TRUE(answerMessage("Vinheta de carimbo adicionada com sucesso", "operador-08-carimbo-adicionado.png"));
    ASSERT_TRUE(waitText("EdCarimbo", found[1]));
    ASSERT_TRUE(waitFor("the catalogue panel closed", [](const Dump& d) { return !d.find("PVinhetas"); }));

    // A comment of two lines typed (spaces type, they do not play) and accepted.
    click("SpeedButton15");
    click("MemoComentario");
    ASSERT_TRUE(waitFor("the memo focused", [](const Dump& d) {
        return d.flag("MemoComentario", 'f');
    }));
    const size_t lineBreak = comment.find('\n');
    keys(main.window, "type --delay 40 " + shellQuote(comment.substr(0, lineBreak)));  // type takes all that follows
    keys(main.window, "key Return");
    keys(main.window, "type --delay 40 " + shellQuote(comment.substr(lineBreak + 1)));
    ASSERT_TRUE(waitText("MemoComentario", comment));
    EXPECT_FALSE(dump().flag("PlayBtn", 'c'));
    takePicture("operador-09-comentario.png", main);
    click("SpeedButton19");
    ASSERT_TRUE(answerMessage("Comentário adicionado com sucesso."));

    // Gravar: the mix lies before the chorus end, so the order check asks first; saved all the
    // same, the views let go of the song, which now holds every mark in its tag.
    click("btnGravarMarcacoes");
    ASSERT_TRUE(waitFor("the order check", [](const Dump& d) {
        return d.find("QuestionYes") && d.text("qt_msgbox_label").rfind("As marcações estão fora de ordem:", 0) == 0;
    }));
    takePicture("operador-10-fora-de-ordem.png", window());
    click("QuestionYes");
    ASSERT_TRUE(waitFor("the saved state", [&](const Dump& d) {
        return d.text("EdIntroducao").empty() && !d.flag("PlayBtn", 'e') && readFile(song) != oldFile;
    }));
    ASSERT_TRUE(waitWaveform(false));
    takePicture("operador-11-gravado.png", main);

    const QJsonObject tag = mutagenTag(song);
    EXPECT_EQ(sha256(afterTag(readFile(song))), sha256(afterTag(oldFile))) << "the audio changed";
    const auto [type, file] = jingle(found[1]);
    ASSERT_EQ(type, "H");
    const std::pair<const char*, std::string> expected[] = {
        {"TINT", marks[2].value}, {"TMXI", marks[0].value}, {"TMXF", marks[1].value}, {"TRFI", marks[3].value},
        {"TRFF", marks[4].value}, {"TPMI", marks[5].value}, {"TCAR", stampAt},        {"TVIN", "Horas\\" + file}};
    for (const auto& [id, value] : expected) EXPECT_EQ(textOf(tag, id), value) << id;
    std::string written;
    for (const auto& f : tag["frames"].toArray())
        if (f.toObject()["id"] == "COMM" && f.toObject()["desc"] == "") written = f.toObject()["text"].toString().toStdString();
    EXPECT_EQ(written, comment.substr(0, lineBreak) + "\r\n" + comment.substr(lineBreak + 1));  // as the stations keep it
    for (const auto& f : oldTag["frames"].toArray()) {
        const QString key = f.toObject()["key"].toString();
        if (key == "TMXI") continue;  // a marker of the old tag, replaced
        EXPECT_EQ(frameOf(tag, key), f.toObject()) << key.toStdString() << " of the old tag changed";
    }

    // Cancelar: the song imported again, the column shows what the tag now holds.
    click("btnCancelarMarcacoes");
    ASSERT_TRUE(waitFor("the song loaded again", [&](const Dump& d) {
        return d.flag("PlayBtn", 'e') && d.text("EdIntroducao") == marks[2].value;
    }));
    EXPECT_EQ(importDialogs(), 2) << "the import dialog was not shown again";
    const Dump reloaded = dump();
    for (const Mark& m : marks) EXPECT_EQ(reloaded.text(m.edit), m.value) << m.edit;
    EXPECT_EQ(reloaded.text("EdCarimbo"), found[1]);
    ASSERT_TRUE(waitWaveform(true));
    takePicture("operador-12-recarregado.png", main);
    click("SpeedButton15");
    ASSERT_TRUE(waitText("MemoComentario", comment));

    // Esc ends the program with code 0.
    keys(main.window, "key Escape");
    int exit = -1;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < until && ::waitpid(pid_, &exit, WNOHANG) != pid_;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(WIFEXITED(exit)) << exit;
    pid_ = -1;
    EXPECT_EQ(WEXITSTATUS(exit), 0);
}

}  // namespace
