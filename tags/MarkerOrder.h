// The order of a song's markers, checked before they are written: start ≤ intro ≤ chorus start <
// chorus end ≤ mix ≤ end, the stamp inside start..end, nothing past the end of the audio. Shared by
// the editor's save and tessivo-tool; plain texts, no window and no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Tag;

// The marker time texts as they will be written (empty: not set).
struct TMarkerTexts {
    std::string Start, Intro, ChorusStart, ChorusEnd, Mix, End, StampTime;
};

// Milliseconds of a marker time text: "m:ss.fff", "h:mm:ss.fff" or "d:hh:mm:ss.fff" (surrounding
// blanks ignored, a decimal comma read as a point, any number of fraction digits rounded to the
// millisecond). False, with ms untouched, for anything else: no colon, signs, letters, empty
// parts, more than nine digits in a part.
bool MarkerTimeMs(const std::string& text, int64_t& ms);

// What the writer will put in the tag: each text given, or where it is empty the value read from
// the file (the writer's own fallback).
TMarkerTexts MarkersToWrite(const TMarkerTexts& given, const Tag& read);

// The problems of the set markers, in Portuguese, one line each, in this order: texts that are
// no time ("Mixagem: \"abc\" não é um tempo"), markers out of order ("Fim antes do Início",
// "Final do Refrão igual ao Início do Refrão"), the stamp outside start..end ("Carimbo antes do
// Início", "Carimbo depois do Fim"), markers past the end of the audio ("Fim além do fim do áudio
// (3:00.000)"). audioMs < 0: the length of the audio is unknown and not checked. Empty when
// nothing is wrong.
std::vector<std::string> MarkerOrderProblems(const TMarkerTexts& markers, int64_t audioMs);
