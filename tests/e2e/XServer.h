// A private X server (Xvfb) on a free display number for the tests that run the program on a
// real display, and a connection to it that follows the top-level windows as they are created,
// moved, mapped and unmapped, and takes pictures of the screen. Xlib stays inside XServer.cpp.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <sys/types.h>

#include <map>
#include <string>

namespace testutil {

class XServer {
public:
    XServer();
    // Closes the connection and stops the server.
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // True when Xvfb and xdotool are installed.
    static bool Available();
    // Starts Xvfb (1024 x 768, 24 bits) on the first free display and connects to it; false
    // when it does not answer within 20 s.
    bool Start();
    // ":N", for DISPLAY.
    const std::string& Display() const { return display_; }
    // Gives each of the letters a key of its own among the unused key codes, so that xdotool
    // types them without changing the keyboard map in between (which a client busy elsewhere
    // may read too late). Call before the program starts; false when keys ran out.
    bool AddKeys(const QString& letters);

    struct Window {
        QRect rect;          // as last created or configured
        bool mapped = false;
        int maps = 0;        // how often it was mapped
    };
    // Reads the events that arrived: the top-level windows known so far, by native id.
    const std::map<unsigned long, Window>& Windows();

    // The screen's pixels in rect.
    QImage Capture(const QRect& rect);

private:
    pid_t pid_ = -1;
    std::string display_;
    void* connection_ = nullptr;  // Display*
    std::map<unsigned long, Window> windows_;
};

}  // namespace testutil
