#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Page-sized buffers kept for reuse between pages. A fresh buffer of several megabytes costs a
// page fault and a cleared page from the kernel for every 4 KiB the first time it is written;
// a page loop that takes its pixel and scratch buffers from here pays that once per worker.
// Buffers of a megabyte and more are mapped on their own.
namespace platform {

// A buffer of at least `bytes` bytes (contents undefined); it goes back to the pool when the
// last reference is dropped. Empty on allocation failure.
std::shared_ptr<std::uint8_t> AcquireBuffer(std::size_t bytes);

// Frees every buffer the pool keeps (buffers in use return later and are kept again), and
// forgets how much was in use at once. The buffers leave the pool at once and go back to the
// system in the background (ReleaseInBackground).
void TrimBufferPool();

// Runs `job`, work that only gives memory back, on a thread kept for it, after the jobs given
// before; the caller goes on at once. Giving back a conversion's memory takes milliseconds (a
// page buffer of 4 KiB pages is hundreds of pages to unmap, a reader thousands of blocks to
// free) that nobody needs to wait for. Without a thread to be had, the job runs here. A program
// that exits waits for the jobs given (a second at most).
void ReleaseInBackground(std::function<void()> job);

// Returns once the jobs given so far are done, or after `limit`. A conversion calls it before its
// pages start, so that the memory of the one before is back with the system first and the two
// never add up.
void WaitForBackgroundRelease(std::chrono::milliseconds limit);

// Bounds the heaps glibc keeps: it gives each new thread a heap of its own (up to 8 a processor)
// and keeps what is freed there for that heap alone. `heaps` 0 means one a processor: the page
// readers allocate all the time, and with two heaps for seven workers they spent most of their
// waits on the heaps' locks (at 72 dpi the pages took a quarter to twice as long). Fewer heaps
// suit work whose freed memory is better shared: OpenJPEG's working memory (some 20 bytes a
// pixel of what it holds) stayed resident once a heap when it held whole pages, 2.7 times the
// peak of two heaps; a tile at a time, the two measure alike.
// Process-wide; called before the page workers start. Heaps once made stay: with fewer allowed
// than there are, new threads share the existing ones. The heaps are not given huge pages: they
// are written sparsely, and with huge pages 600 dpi pages took a third longer.
void LimitHeaps(int heaps = 0);

// What the pool may hold, free and in use together, unless more than that was in use at once
// since the last trim: then as much as was (the pool follows the size of the pages).
inline constexpr std::size_t kBufferPoolLimit = std::size_t{32} << 20;

}  // namespace platform
