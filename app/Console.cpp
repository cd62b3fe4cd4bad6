#include "Console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ostream>

namespace {

// The terminal state to restore, shared with the signal handler. Only
// async-signal-safe calls touch it from the handler.
struct termios saved_termios;
std::atomic<bool> termios_changed{false};

void RestoreTerminal()
{
    if (termios_changed.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
}

extern "C" void RestoreAndReraise(int signo)
{
    RestoreTerminal();
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

// Switches the terminal to non-canonical mode for the life of the object so
// that a single key press becomes readable without Enter, and puts it back on
// every way out, signals included.
class NonCanonicalMode {
public:
    NonCanonicalMode()
    {
        if (tcgetattr(STDIN_FILENO, &saved_termios) != 0) return;
        installed_ = true;
        struct termios raw = saved_termios;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
            struct sigaction action {};
            action.sa_handler = RestoreAndReraise;
            sigemptyset(&action.sa_mask);
            sigaction(signo, &action, &previous_[index(signo)]);
        }
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) termios_changed = true;
    }
    ~NonCanonicalMode()
    {
        RestoreTerminal();
        // Nothing was replaced when the terminal could not be read.
        if (!installed_) return;
        for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
            sigaction(signo, &previous_[index(signo)], nullptr);
    }
    NonCanonicalMode(const NonCanonicalMode&) = delete;
    NonCanonicalMode& operator=(const NonCanonicalMode&) = delete;

private:
    static int index(int signo)
    {
        switch (signo) {
        case SIGINT: return 0;
        case SIGTERM: return 1;
        case SIGHUP: return 2;
        case SIGQUIT: return 3;
        default: return 4;
        }
    }
    struct sigaction previous_[5] {};
    bool installed_ = false;
};

} // namespace

void WaitForKey()
{
    if (isatty(STDIN_FILENO) == 0) return;

    NonCanonicalMode mode;
    for (;;) {
        struct pollfd pfd {STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&pfd, 1, 100);
        if (ready > 0) return;   // a key is pending (or the terminal hung up)
        if (ready < 0 && errno != EINTR) return;
    }
}

void PromptAndWaitForKey(std::ostream& out, bool end_line)
{
    out << "Press any key to exit ... ";
    if (end_line) out << '\n';
    out.flush();
    WaitForKey();
}
