// What ThreadSanitizer sees of the simulated platform.
//
// In the free-running mode the program's threads run in parallel and every
// platform call takes the device's one lock. Seen by ThreadSanitizer, that
// lock would order any two platform calls and hide every race the program
// has between them. So inside a platform call the device's own work is
// hidden from it (its memory accesses and its locking), and only the
// synchronisation the real platform provides is shown: a critical section
// orders what happens before its release with what happens after the next
// acquisition, and the interlocked operations are atomic accesses to the
// program's own words.
#ifndef CORVANE_SIMULATOR_SUPPORT_TSAN_H
#define CORVANE_SIMULATOR_SUPPORT_TSAN_H

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CORVANE_TSAN 1
#endif
#endif

#ifdef CORVANE_TSAN
extern "C" {
void AnnotateIgnoreReadsBegin(const char* file, int line);
void AnnotateIgnoreReadsEnd(const char* file, int line);
void AnnotateIgnoreWritesBegin(const char* file, int line);
void AnnotateIgnoreWritesEnd(const char* file, int line);
void AnnotateIgnoreSyncBegin(const char* file, int line);
void AnnotateIgnoreSyncEnd(const char* file, int line);
void AnnotateHappensBefore(const char* file, int line, const volatile void* sync);
void AnnotateHappensAfter(const char* file, int line, const volatile void* sync);
}
#endif

namespace sim::tsan {

// Whether this thread's accesses are hidden now.
inline thread_local bool hiding = false;

inline void hide_begin() {
    hiding = true;
#ifdef CORVANE_TSAN
    AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    AnnotateIgnoreSyncBegin(__FILE__, __LINE__);
#endif
}

inline void hide_end() {
    hiding = false;
#ifdef CORVANE_TSAN
    AnnotateIgnoreSyncEnd(__FILE__, __LINE__);
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
    AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
#endif
}

// Runs `f` where ThreadSanitizer sees it, also inside a hidden stretch.
template <class F>
void shown(F&& f) {
    if (!hiding) {
        f();
        return;
    }
    hide_end();
    f();
    hide_begin();
}

// Everything before release(x) happens before everything after acquire(x).
inline void release([[maybe_unused]] const void* sync) {
#ifdef CORVANE_TSAN
    AnnotateHappensBefore(__FILE__, __LINE__, sync);
#endif
}

inline void acquire([[maybe_unused]] const void* sync) {
#ifdef CORVANE_TSAN
    AnnotateHappensAfter(__FILE__, __LINE__, sync);
#endif
}

}  // namespace sim::tsan

#endif
