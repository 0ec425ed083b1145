// Zandor.Mutex: std::mutex, std::lock_guard and std::thread::id for the
// library's headers, without the rest of <mutex> and <thread>.
//
// In C++20 <mutex> also brings the timed mutexes with <chrono>, std::lock
// and call_once, and <thread> brings std::jthread with the stop tokens and
// the atomic waits: together about a twentieth of what it takes to compile
// a small component, for headers that only hold a mutex or compare thread
// ids. With libstdc++ those parts have headers of their own; elsewhere this
// is <mutex> and <thread>. A source that uses anything else of them (a
// unique_lock, a recursive mutex, a thread) includes them itself.
#pragma once

#include <version>  // says which standard library this is

#if defined(__GLIBCXX__) && __has_include(<bits/std_mutex.h>) && __has_include(<bits/std_thread.h>)
#include <bits/std_mutex.h>
#include <bits/std_thread.h>
#else
#include <mutex>
#include <thread>
#endif
