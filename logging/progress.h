// A line on standard error that follows the reading of one input: what has
// been read so far and how much of the file that is. Shown only when
// standard error is a terminal; pipes, batch jobs and log files see nothing.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class ProgressLine {
public:
    // `unit` names what is counted ("messages", "records", "variables").
    // Shown when standard error is a terminal.
    ProgressLine(const QString& input, const char* unit);
    // Shown on `out` when `terminal` is true.
    ProgressLine(const QString& input, const char* unit, std::FILE* out, bool terminal);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // `count` read so far, `done` the part of the input that is (0 to 1).
    // Rewrites the line at most ten times a second.
    void update(uint64_t count, double done);
    // Rewrites the line with the last count and ends it; nothing more is
    // shown afterwards.
    void finish();

    // The text of the line: the input's file name, the count and the
    // percentage (rounded down, 100 only when the input is read whole).
    static std::string text(const QString& input, const char* unit, uint64_t count, double done);

    // Wipes the line being shown, if any, so that a message on standard
    // error starts at the beginning of a line; the next update draws it
    // again.
    static void clearShown();

private:
    void draw();
    void wipe();

    QString m_input;
    const char* m_unit;
    std::FILE* m_out;
    bool m_active;
    uint64_t m_count = 0;
    double m_done = 0;
    size_t m_width = 0;  // characters on the terminal, 0 when wiped
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_last;
};
