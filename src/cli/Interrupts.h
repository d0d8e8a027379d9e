#pragma once

// SIGINT and SIGTERM as a request to stop in an orderly way.  The command line makes one
// InterruptWatch first thing in main, before any other thread exists: the two signals are then
// blocked in every thread the program starts, and one thread of the watch's own waits for them.
// The first signal sets the request, which the run reads between files: it takes no new file,
// finishes the ones in flight, writes their rows, removes its temporaries and ends with
// 128 + the signal's number (130, 143).  A second signal ends the program at once, as the
// signal does by default.

#include <atomic>
#include <thread>

namespace lumetra {

// What the run reads: whether to stop, and by which signal.
class StopRequest {
  public:
    virtual ~StopRequest() = default;
    // The number of the signal that asked the run to stop; 0 while none has.
    virtual int signal() const = 0;
    bool requested() const { return signal() != 0; }
};

// A request that never comes, for runs that nothing interrupts.
class NoStopRequest : public StopRequest {
  public:
    int signal() const override { return 0; }
};

class InterruptWatch : public StopRequest {
  public:
    // `notice` is written to standard error when the first signal comes (may be empty).
    explicit InterruptWatch(const char* notice);
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    // Stops the watching thread; the signals stay blocked.
    ~InterruptWatch() override;

    int signal() const override { return _signal.load(); }

  private:
    void watch();

    const char* _notice;
    std::atomic<int> _signal{0};
    int _signals = -1;  // signalfd of SIGINT and SIGTERM
    int _wake = -1;     // eventfd that ends the watch
    std::thread _thread;
};

}  // namespace lumetra
