// SPDX-License-Identifier: MIT
// The progress line.
#include "progress.hpp"

#include <cerrno>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

#include "output_file.hpp"

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

namespace {

// The pieces of the line, widest first.
struct Fields {
    std::string amount, percent, speed, eta;
};

Fields progress_fields(unsigned long long done, unsigned long long total, double seconds) {
    Fields f;
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%.1f MB/s", rate / 1e6);
    f.speed = text;
    f.amount = megabytes(done);
    if (total == 0)
        return f;
    const unsigned long long shown = done < total ? done : total;
    f.amount += " of " + megabytes(total);
    f.percent = std::to_string(shown * 100 / total) + "%";
    if (rate > 0) {
        const auto left =
            static_cast<unsigned long long>(static_cast<double>(total - shown) / rate + 0.5);
        if (left >= 3600)
            std::snprintf(text, sizeof text, "%llu:%02llu:%02llu left", left / 3600, left / 60 % 60,
                          left % 60);
        else
            std::snprintf(text, sizeof text, "%llu:%02llu left", left / 60, left % 60);
        f.eta = text;
    }
    return f;
}

std::string joined(std::initializer_list<const std::string *> parts) {
    std::string line;
    for (const std::string *p : parts) {
        if (p->empty())
            continue;
        if (!line.empty())
            line += ", ";
        line += *p;
    }
    return line;
}

} // namespace

std::string format_progress(unsigned long long done, unsigned long long total, double seconds) {
    const Fields f = progress_fields(done, total, seconds);
    return joined({&f.amount, &f.percent, &f.speed, &f.eta});
}

std::string fit_progress(unsigned long long done, unsigned long long total, double seconds,
                         std::size_t columns) {
    const std::string prefix = "velkfile: ";
    const Fields f = progress_fields(done, total, seconds);
    const std::string full = prefix + joined({&f.amount, &f.percent, &f.speed, &f.eta});
    if (columns == 0)
        return full;
    // The last column stays free: a terminal that wraps there would move
    // the cursor to a new line, and every redraw would start one.
    const std::size_t room = columns - 1;
    const std::string empty;
    const std::string candidates[] = {
        full,
        prefix + joined({&f.amount, &f.percent, &f.speed}),
        prefix + joined({&f.amount, &f.percent}),
        joined({&f.amount, &f.percent}),
        f.percent.empty() ? megabytes(done) : f.percent,
    };
    for (const std::string &line : candidates)
        if (line.size() <= room)
            return line;
    return candidates[4].substr(0, room);
}

Progress::Progress(unsigned long long total, bool enabled)
    : total_(total), enabled_(enabled), start_(Clock::now()),
      next_draw_(start_ + quiet_start), hook_{&Progress::on_written, this} {}

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
    drawn_ = true;
    show_progress_line(true);
    winsize size{};
    const std::size_t columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    // Appended to a named string: g++ -O3 warns falsely (-Wrestrict) when a
    // literal is prepended to a temporary string.
    std::string line = "\r";
    line += fit_progress(done_, total_, seconds, columns);
    line += erase_to_end;
    write_stderr(line);
}

void Progress::finish() {
    if (drawn_) {
        write_stderr(std::string("\r") + erase_to_end);
        show_progress_line(false);
    }
    drawn_ = false;
    enabled_ = false;
}

} // namespace velkfile
