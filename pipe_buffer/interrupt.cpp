#include "pipe_buffer/interrupt.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace qarel::pipe {
namespace {

volatile std::sig_atomic_t g_signal = 0;
std::atomic<int> g_input_descriptor{-1};
std::atomic<int> g_null_descriptor{-1};
// The thread that reads the input, once known, and whether a signal is on its way to it.
pthread_t g_reader;
std::atomic<bool> g_reader_known{false};
std::atomic<bool> g_forwarded{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "used from a signal handler");

void restore_default_and_raise(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);  // delivered when the handler returns
}

void end_input() {
    const int input = g_input_descriptor.load();
    const int null_device = g_null_descriptor.load();
    if (input >= 0 && null_device >= 0) dup2(null_device, input);
}

// A read blocked in another thread keeps the file it started on; the signal sent on to the
// reader interrupts it, and the restarted read finds the descriptor at its end.
void wake_reader(int signal) {
    if (!g_reader_known.load(std::memory_order_acquire) || pthread_equal(pthread_self(), g_reader)) return;
    g_forwarded.store(true);
    pthread_kill(g_reader, signal);
}

void handle_interrupt(int signal) {
    if (g_forwarded.load() && g_reader_known.load(std::memory_order_acquire) &&
        pthread_equal(pthread_self(), g_reader)) {
        g_forwarded.store(false);
        return;
    }
    if (g_signal != 0) {
        restore_default_and_raise(signal);
        return;
    }
    g_signal = signal;
    end_input();
    wake_reader(signal);
}

void on_interrupt(int signal) {
    const int saved_errno = errno;  // the interrupted code may be about to read it
    handle_interrupt(signal);
    errno = saved_errno;
}

}  // namespace

void install_interrupt_handlers() {
    if (g_null_descriptor.load() < 0) g_null_descriptor.store(open("/dev/null", O_RDONLY | O_CLOEXEC));
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void watch_input_descriptor(int descriptor) {
    g_reader = pthread_self();
    g_reader_known.store(true, std::memory_order_release);
    g_input_descriptor.store(descriptor);
    // A signal that came before the descriptor was known still ends the input.
    if (g_signal != 0) end_input();
}

int interrupt_signal() { return g_signal; }

}  // namespace qarel::pipe
