#include "tags/MarkerOrder.h"

#include "tags/U_Funcoes.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// One marker of the chain, with the Portuguese contractions its name takes ("do Fim", "ao Fim").
struct TMarkerName {
    const char* name;
    const char* of;  // "do" or "da"
    const char* to;  // "ao" or "à"
};

const TMarkerName kStart{"Início", "do", "ao"};
const TMarkerName kIntro{"Introdução", "da", "à"};
const TMarkerName kChorusStart{"Início do Refrão", "do", "ao"};
const TMarkerName kChorusEnd{"Final do Refrão", "do", "ao"};
const TMarkerName kMix{"Mixagem", "da", "à"};
const TMarkerName kEnd{"Fim", "do", "ao"};
const TMarkerName kStamp{"Carimbo", "do", "ao"};

bool Blank(char c) { return c == ' ' || c == '\t'; }

// A run of 1 to 9 decimal digits.
bool Digits(const std::string& s, int64_t& value) {
    if (s.empty() || s.size() > 9) return false;
    value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string FormatMs(int64_t ms) {
    const int64_t f = ms % 1000, s = ms / 1000 % 60, m = ms / 60000 % 60, h = ms / 3600000 % 24, d = ms / 86400000;
    char buf[64];
    if (ms < 3600000)
        std::snprintf(buf, sizeof buf, "%lld:%02lld.%03lld", (long long)(ms / 60000), (long long)s, (long long)f);
    else if (ms < 86400000)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld", (long long)h, (long long)m, (long long)s,
                      (long long)f);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld:%02lld.%03lld", (long long)d, (long long)h, (long long)m,
                      (long long)s, (long long)f);
    return buf;
}

}  // namespace

bool MarkerTimeMs(const std::string& text, int64_t& ms) {
    size_t b = 0, e = text.size();
    while (b < e && Blank(text[b])) ++b;
    while (e > b && Blank(text[e - 1])) --e;
    std::vector<std::string> parts(1);
    for (size_t i = b; i < e; ++i) {
        if (text[i] == ':')
            parts.emplace_back();
        else
            parts.back() += text[i];
    }
    if (parts.size() < 2 || parts.size() > 4) return false;

    // The seconds: digits, then optionally a point or comma and more digits.
    std::string seconds = parts.back(), fraction;
    const size_t dot = seconds.find_first_of(".,");
    if (dot != std::string::npos) {
        fraction = seconds.substr(dot + 1);
        seconds.resize(dot);
        if (fraction.empty()) return false;
        for (const char c : fraction)
            if (c < '0' || c > '9') return false;
    }
    int64_t total = 0;
    if (!Digits(seconds, total)) return false;
    total *= 1000;
    // Thousandths, the next digit rounding half up.
    fraction.resize(std::max<size_t>(fraction.size(), 4), '0');
    total += (fraction[0] - '0') * 100 + (fraction[1] - '0') * 10 + (fraction[2] - '0') + (fraction[3] >= '5');

    // Minutes, hours, days from the right.
    static const int64_t unit[] = {60000, 3600000, 86400000};
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
        int64_t v = 0;
        if (!Digits(parts[parts.size() - 2 - k], v)) return false;
        total += v * unit[k];
    }
    ms = total;
    return true;
}

TMarkerTexts MarkersToWrite(const TMarkerTexts& given, const Tag& read) {
    auto pick = [](const std::string& a, const std::string& b) { return a.empty() ? b : a; };
    TMarkerTexts m;
    m.Start = pick(given.Start, read.StartMark);
    m.Intro = pick(given.Intro, read.IntroMark);
    m.ChorusStart = pick(given.ChorusStart, read.ChorusStartMark);
    m.ChorusEnd = pick(given.ChorusEnd, read.ChorusEndMark);
    m.Mix = pick(given.Mix, read.MixMark);
    m.End = pick(given.End, read.EndMark);
    m.StampTime = pick(given.StampTime, read.StampMark);
    return m;
}

std::vector<std::string> MarkerOrderProblems(const TMarkerTexts& markers, int64_t audioMs) {
    std::vector<std::string> problems;
    struct TSet {
        const TMarkerName* name;
        std::optional<int64_t> ms;  // empty: not set or no time
    };
    auto read = [&](const TMarkerName& name, const std::string& text) {
        TSet s{&name, std::nullopt};
        if (text.empty()) return s;
        int64_t ms = 0;
        if (MarkerTimeMs(text, ms))
            s.ms = ms;
        else
            problems.push_back(std::string(name.name) + ": \"" + text + "\" não é um tempo");
        return s;
    };
    // In the order of the chain.
    const TSet chain[] = {read(kStart, markers.Start),           read(kIntro, markers.Intro),
                          read(kChorusStart, markers.ChorusStart), read(kChorusEnd, markers.ChorusEnd),
                          read(kMix, markers.Mix),               read(kEnd, markers.End)};
    const TSet stamp = read(kStamp, markers.StampTime);

    // Neighbours among the set markers: when every pair of them is in order, all are.
    const TSet* previous = nullptr;
    for (const TSet& s : chain) {
        if (!s.ms) continue;
        if (previous) {
            const bool strict = previous->name == &kChorusStart && s.name == &kChorusEnd;
            if (*s.ms < *previous->ms)
                problems.push_back(std::string(s.name->name) + " antes " + previous->name->of + " " +
                                   previous->name->name);
            else if (strict && *s.ms == *previous->ms)
                problems.push_back(std::string(s.name->name) + " igual " + previous->name->to + " " +
                                   previous->name->name);
        }
        previous = &s;
    }

    if (stamp.ms) {
        const TSet &start = chain[0], &end = chain[5];
        if (start.ms && *stamp.ms < *start.ms) problems.push_back(std::string("Carimbo antes do ") + kStart.name);
        if (end.ms && *stamp.ms > *end.ms) problems.push_back(std::string("Carimbo depois do ") + kEnd.name);
    }

    if (audioMs >= 0) {
        for (const TSet* s : {&chain[0], &chain[1], &chain[2], &chain[3], &chain[4], &chain[5], &stamp})
            if (s->ms && *s->ms > audioMs)
                problems.push_back(std::string(s->name->name) + " além do fim do áudio (" + FormatMs(audioMs) + ")");
    }
    return problems;
}
