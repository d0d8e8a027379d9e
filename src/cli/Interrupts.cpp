#include "cli/Interrupts.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace lumetra {

namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Ends the program by `signal` as if it had not been caught.
[[noreturn]] void dieBy(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: the signal's default action ends the process
}

}  // namespace

InterruptWatch::InterruptWatch(const char* notice) : _notice(notice) {
    const sigset_t set = watchedSignals();
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot block SIGINT and SIGTERM");
    }
    _signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    _wake = ::eventfd(0, EFD_CLOEXEC);
    if (_signals < 0 || _wake < 0) {
        const int error = errno;
        if (_signals >= 0) ::close(_signals);
        if (_wake >= 0) ::close(_wake);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        throw std::system_error(error, std::generic_category(), "cannot watch SIGINT and SIGTERM");
    }
    _thread = std::thread([this] { watch(); });
}

InterruptWatch::~InterruptWatch() {
    const std::uint64_t one = 1;
    if (::write(_wake, &one, sizeof one) == sizeof one)
        _thread.join();
    else
        _thread.detach();  // cannot be woken; the process is ending anyway
    ::close(_signals);
    ::close(_wake);
}

void InterruptWatch::watch() {
    for (;;) {
        pollfd waits[2] = {{_signals, POLLIN, 0}, {_wake, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((waits[1].revents & POLLIN) != 0) return;
        signalfd_siginfo info{};
        if ((waits[0].revents & POLLIN) == 0 ||
            ::read(_signals, &info, sizeof info) != sizeof info) {
            continue;
        }
        const int signal = static_cast<int>(info.ssi_signo);
        int none = 0;
        if (!_signal.compare_exchange_strong(none, signal)) dieBy(signal);  // the second one
        if (_notice != nullptr && *_notice != '\0') {
            // Straight to the descriptor: the run's own writes to std::cerr go on meanwhile.
            [[maybe_unused]] const ssize_t written =
                ::write(STDERR_FILENO, _notice, std::strlen(_notice));
        }
    }
}

}  // namespace lumetra
