// SPDX-License-Identifier: MIT
// A line of progress on standard error for long runs: shown only when
// standard error is a terminal and the run has gone on for about a second,
// redrawn a few times a second within the terminal's width, and cleared
// when the run ends, also when a signal stops it.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "file_stream.hpp"

namespace velkfile {

// The text of the line after `done` of `total` bytes (0: size unknown) in
// `seconds`: "12.6 MB of 100.7 MB, 12%, 25.1 MB/s, 0:03 left", or without a
// known size "12.6 MB, 25.1 MB/s".
std::string format_progress(unsigned long long done, unsigned long long total, double seconds);

// The line as drawn, "velkfile: " and the text above, made to fit in
// `columns` - 1 characters (0: width unknown, the whole line) by leaving
// out, in turn, the time left, the speed, the prefix and the amount; at the
// narrowest the percentage, or the amount when the size is unknown, cut to
// the width.
std::string fit_progress(unsigned long long done, unsigned long long total, double seconds,
                         std::size_t columns);

class Progress {
  public:
    using Clock = std::chrono::steady_clock;

    // `total`: the input's size in bytes, 0 when unknown. `enabled`: whether
    // to draw at all (standard error is a terminal).
    Progress(unsigned long long total, bool enabled);
    ~Progress() { finish(); }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // Counts `bytes` more and redraws the line when it is due.
    void add(std::size_t bytes);
    // Clears the line if it was drawn; nothing is drawn afterwards.
    void finish();
    // The hook for the stream functions, or none when nothing is drawn.
    const ProgressHook *hook() const { return enabled_ ? &hook_ : nullptr; }

  private:
    static void on_written(void *self, std::size_t bytes);

    unsigned long long total_;
    unsigned long long done_ = 0;
    bool enabled_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point next_draw_;
    ProgressHook hook_;
};

} // namespace velkfile
