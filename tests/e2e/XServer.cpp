#include "XServer.h"

#include "support/TestUtil.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace testutil {

namespace {

::Display* dpy(void* c) { return static_cast<::Display*>(c); }

}  // namespace

XServer::XServer() = default;

XServer::~XServer() {
    if (connection_) XCloseDisplay(dpy(connection_));
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
}

bool XServer::Available() { return haveTool("Xvfb") && haveTool("xdotool"); }

bool XServer::Start() {
    // -displayfd: the server takes the first free display number and writes it to the pipe
    // once it accepts connections.
    int fds[2];
    if (::pipe(fds) != 0) return false;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, fds[1], 3);
    const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
                          nullptr};
    const int rc = posix_spawnp(&pid_, "Xvfb", &files, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&files);
    ::close(fds[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(fds[0]);
        return false;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[16];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, size_t(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) return false;
    display_ = ":" + number.substr(0, number.find('\n'));
    connection_ = XOpenDisplay(display_.c_str());
    if (!connection_) return false;
    XSelectInput(dpy(connection_), DefaultRootWindow(dpy(connection_)), SubstructureNotifyMask);
    XSync(dpy(connection_), False);
    return true;
}

bool XServer::AddKeys(const QString& letters) {
    ::Display* d = dpy(connection_);
    int low = 0, high = 0, per = 0;
    XDisplayKeycodes(d, &low, &high);
    KeySym* map = XGetKeyboardMapping(d, KeyCode(low), high - low + 1, &per);
    if (!map) return false;
    std::vector<int> unused;
    for (int k = low; k <= high; ++k) {
        bool empty = true;
        for (int i = 0; i < per; ++i) empty = empty && map[(k - low) * per + i] == NoSymbol;
        if (empty) unused.push_back(k);
    }
    XFree(map);
    size_t next = 0;
    for (const QChar c : letters) {
        // Latin-1 letters are their own key symbols; others are 0x01000000 + the code point.
        const KeySym sym = c.unicode() < 0x100 ? KeySym(c.unicode()) : KeySym(0x01000000 + c.unicode());
        if (next == unused.size()) return false;
        KeySym syms[2] = {sym, sym};
        XChangeKeyboardMapping(d, unused[next++], 2, syms, 1);
    }
    XSync(d, False);
    return true;
}

const std::map<unsigned long, XServer::Window>& XServer::Windows() {
    ::Display* d = dpy(connection_);
    while (XPending(d) > 0) {
        XEvent e;
        XNextEvent(d, &e);
        switch (e.type) {
        case CreateNotify:
            windows_[e.xcreatewindow.window].rect =
                QRect(e.xcreatewindow.x, e.xcreatewindow.y, e.xcreatewindow.width, e.xcreatewindow.height);
            break;
        case ConfigureNotify:
            windows_[e.xconfigure.window].rect =
                QRect(e.xconfigure.x, e.xconfigure.y, e.xconfigure.width, e.xconfigure.height);
            break;
        case MapNotify:
            windows_[e.xmap.window].mapped = true;
            ++windows_[e.xmap.window].maps;
            break;
        case UnmapNotify:
            windows_[e.xunmap.window].mapped = false;
            break;
        case DestroyNotify:
            windows_[e.xdestroywindow.window].mapped = false;
            break;
        default:
            break;
        }
    }
    return windows_;
}

QImage XServer::Capture(const QRect& rect) {
    ::Display* d = dpy(connection_);
    XImage* image = XGetImage(d, DefaultRootWindow(d), rect.x(), rect.y(), unsigned(rect.width()),
                              unsigned(rect.height()), AllPlanes, ZPixmap);
    if (!image) return {};
    QImage out(rect.size(), QImage::Format_RGB32);
    for (int y = 0; y < rect.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < rect.width(); ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            row[x] = qRgb(int((pixel >> 16) & 0xFF), int((pixel >> 8) & 0xFF), int(pixel & 0xFF));
        }
    }
    XDestroyImage(image);
    return out;
}

}  // namespace testutil
