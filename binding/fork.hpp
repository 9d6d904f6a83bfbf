// What a fork child remakes: each lock or record of this module library
// registers its remaking when it is made; one pthread_atfork per library
// runs them, in the order registered, in the child (whose one thread is the
// forking one: a lock another thread held there must start free).  Windows
// has no fork.
#ifndef BIND_FORK_HPP
#define BIND_FORK_HPP

#include <atomic>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace bind {

using ForkChild = void (*)();

struct ForkChildren {
    static constexpr int room = 8;
    ForkChild slot[room] = {};
    std::atomic<int> count{0};
};
inline ForkChildren& fork_children() {
    static ForkChildren* c = new ForkChildren;  // never destroyed: a fork may come as the process ends
    return *c;
}

// No allocation and no lock: a registration may meet another thread's, or a
// fork, half way (a slot not yet written is skipped).
inline void on_fork_child(ForkChild remake) {
#if !defined(_WIN32)
    static const bool registered = pthread_atfork(nullptr, nullptr, [] {
        ForkChildren& c = fork_children();
        const int n = c.count.load();
        for (int i = 0; i < n && i < ForkChildren::room; ++i)
            if (c.slot[i]) c.slot[i]();
    }) == 0;
    (void)registered;
    ForkChildren& c = fork_children();
    const int i = c.count.fetch_add(1);
    if (i < ForkChildren::room) c.slot[i] = remake;
#else
    (void)remake;
#endif
}

}  // namespace bind

#endif
