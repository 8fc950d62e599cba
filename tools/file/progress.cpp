// SPDX-License-Identifier: MIT
// The progress line.
#include "progress.hpp"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace velkfile {

namespace {

// A short run finishes before anything is drawn; a long one is redrawn
// often enough to look alive without costing anything measurable.
constexpr auto quiet_start = std::chrono::seconds(1);
constexpr auto redraw_every = std::chrono::milliseconds(250);

void write_stderr(const std::string &text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = write(STDERR_FILENO, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a lost progress line harms nothing
        at += static_cast<std::size_t>(n);
    }
}

std::string megabytes(unsigned long long bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Carriage return, the line, then erase what is left of a longer earlier line.
constexpr char erase_to_end[] = "\033[K";

} // namespace

std::string format_progress(unsigned long long done, unsigned long long total, double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f MB/s", rate / 1e6);
    std::string line = megabytes(done);
    if (total > 0) {
        const unsigned long long shown = done < total ? done : total;
        line += " of " + megabytes(total) + ", " + std::to_string(shown * 100 / total) + "%, " +
                speed;
        if (rate > 0) {
            const auto left = static_cast<unsigned long long>(
                static_cast<double>(total - shown) / rate + 0.5);
            char eta[48];
            if (left >= 3600)
                std::snprintf(eta, sizeof eta, ", %llu:%02llu:%02llu left", left / 3600,
                              left / 60 % 60, left % 60);
            else
                std::snprintf(eta, sizeof eta, ", %llu:%02llu left", left / 60, left % 60);
            line += eta;
        }
    } else {
        line += std::string(", ") + speed;
    }
    return line;
}

Progress::Progress(unsigned long long total, bool enabled)
    : total_(total), enabled_(enabled), start_(Clock::now()), next_draw_(start_ + quiet_start),
      hook_{&Progress::on_written, this} {}

void Progress::on_written(void *self, std::size_t bytes) {
    static_cast<Progress *>(self)->add(bytes);
}

void Progress::add(std::size_t bytes) {
    done_ += bytes;
    if (!enabled_)
        return;
    const Clock::time_point now = Clock::now();
    if (now < next_draw_)
        return;
    next_draw_ = now + redraw_every;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    write_stderr("\rvelkfile: " + format_progress(done_, total_, seconds) + erase_to_end);
    drawn_ = true;
}

void Progress::finish() {
    if (drawn_)
        write_stderr(std::string("\r") + erase_to_end);
    drawn_ = false;
    enabled_ = false;
}

} // namespace velkfile
