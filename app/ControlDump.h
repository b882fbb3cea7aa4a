// For automated runs of the real executable on a display: with TESSIVO_CONTROL_DUMP=FILE the
// program keeps FILE describing what its windows show, so that a test driving it with real
// input events can find the controls and read their texts without fixed offsets.
//
// Every 100 ms, when anything changed, FILE is replaced (written beside it, then renamed) by
// one line per visible top-level window and per visible named control in it, fields separated
// by tabs:
//   name  class  window  x  y  width  height  flags  text
// name is the object name (a top-level window without one: its class name); window the native
// id of the top-level window, in hexadecimal; x and y are screen coordinates; flags holds e
// (enabled), c (checked), f (has the keyboard focus), a (the active window); text is the
// control's text (a window's title, a panel's caption, an edit's text, a spin box's or a
// gauge's value) with backslash, tab and line breaks written as \\, \t and \n. A table adds
// one line per visible row, named "<table>:<row>", its cells joined by " | ", c marking the
// current row.
#pragma once

// Starts the dump when TESSIVO_CONTROL_DUMP names a file; does nothing otherwise. Call once,
// from the main thread, after the application object exists.
void StartControlDump();
